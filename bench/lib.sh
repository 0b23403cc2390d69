# Shared by the benchmark scripts: building, test media and timing.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
media=${BENCH_MEDIA:-$build/bench-media}
runs=${RUNS:-5}

prepare() {
  "$root/scripts/setup"
  BUILD_DIR=$build "$root/scripts/build" >/dev/null
  mkdir -p "$media"
}

# A CBR MP3 of about 100 MB: ten copies of a ten-minute encode, joined.
big_mp3() {
  local out=$media/big.mp3
  if [ ! -f "$out" ]; then
    sox -n -r 44100 -c 2 "$media/ten.wav" synth 600 sine 200-2000 brownnoise vol 0.4 >/dev/null 2>&1
    lame --quiet -t -b 128 "$media/ten.wav" "$media/ten.mp3"
    rm -f "$media/ten.wav"
    : > "$out.tmp"
    for _ in $(seq 10); do cat "$media/ten.mp3" >> "$out.tmp"; done
    mv "$out.tmp" "$out"
    rm -f "$media/ten.mp3"
  fi
  echo "$out"
}

# median_ms CMD...: the median wall time of $runs runs, in milliseconds.
median_ms() {
  local times=() start end
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.1f\n", a[int((NR+1)/2)]/1000}'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

# peak_kb CMD...: the peak resident memory of one run, in KB.
peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }

# A CBR MP3 of about 300 MB: three of big_mp3's files and two tenths of one.
large_mp3() {
  local out=$media/large.mp3 big
  big=$(big_mp3)
  if [ ! -f "$out" ]; then
    { cat "$big" "$big" "$big"; head -c $(( $(stat -c %s "$big") / 5 )) "$big"; } > "$out.tmp"
    mv "$out.tmp" "$out"
  fi
  echo "$out"
}
