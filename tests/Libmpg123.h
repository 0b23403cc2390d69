#pragma once

#include <memory>

#include <QFile>
#include <QString>
#include <mpg123.h>

// libmpg123 as the tests ask it what a file holds: every rate, mono or
// stereo, 16-bit samples, no complaints on stderr.
using Mpg123Handle = std::unique_ptr<mpg123_handle, void (*)(mpg123_handle *)>;

// `gapless` off: every frame's samples as decoded, and junk of any length
// passed over, as the program's own decoding is set. Null where the file
// cannot be opened.
inline Mpg123Handle openLibmpg123(const QString &path, bool gapless = true) {
  static const int initialised = mpg123_init();
  (void)initialised;
  Mpg123Handle mh(mpg123_new(nullptr, nullptr), mpg123_delete);
  mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  if (!gapless) {
    mpg123_param(mh.get(), MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    mpg123_param(mh.get(), MPG123_RESYNC_LIMIT, -1, 0);
  }
  mpg123_format_none(mh.get());
  const long *rates = nullptr;
  std::size_t count = 0;
  mpg123_rates(&rates, &count);
  for (std::size_t i = 0; i < count; ++i)
    mpg123_format(mh.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open(mh.get(), QFile::encodeName(path).constData()) != MPG123_OK) return Mpg123Handle(nullptr, mpg123_delete);
  return mh;
}
