// Exact cuts, judged by decoders: libmpg123 (gapless, as the program's
// player uses it) and ffmpeg decode the source and the pieces, and what they
// hear must agree to the sample.
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>

#include <QFileInfo>
#include <QProcess>
#include <QLocale>
#include <QRandomGenerator>
#include <QtTest>

#include "ExactPlan.h"
#include "ExactSource.h"
#include "Frame.h"
#include "Id3.h"
#include "InfoFrame.h"
#include "SplitEngine.h"
#include "Sum.h"
#include "Libmpg123.h"
#include "TestSupport.h"

namespace {

struct Recorder : split::Reporter {
  QStringList failures, notices;
  QStringList leftWhenTold;  // temporaries in the current folder when a failure was told
  std::function<void(const QString &)> afterPiece;
  void start(std::int64_t) override {}
  void step() override {}
  void complete() override {}
  void pieceWritten(const QString &name) override {
    if (afterPiece) afterPiece(name);
  }
  void fail(const split::Message &message) override {
    failures << message.text;
    leftWhenTold << QDir().entryList({QStringLiteral(".tranchette-*.part")}, QDir::Files | QDir::Hidden);
  }
  void notice(const split::Message &message) override { notices << message.text; }
};

using Handle = Mpg123Handle;

// A scan first reads every frame for the length, then seeks back to the
// start; a player that plays at once does not.
Handle openWithLibmpg123(const QString &path, bool scan = true) {
  Handle mh = openLibmpg123(path);
  if (!mh || (scan && mpg123_scan(mh.get()) != MPG123_OK)) return Handle(nullptr, mpg123_delete);
  return mh;
}

// What libmpg123 makes of a file.
struct Decoded {
  QByteArray pcm;      // 16-bit samples, channels interleaved
  qint64 length = -1;  // its own length in samples per channel, after a scan
  qint64 samples = 0;  // per channel, as decoded
  long rate = 0;
  bool failed = true;
  QList<QByteArray> frames;  // every audio frame, header and body
};

// Decoded as a player plays it: from the start, without a scan, which
// moves where libmpg123's synthesis begins its phase.
Decoded decode(const QString &path) {
  Decoded d;
  Handle scanned = openWithLibmpg123(path);
  Handle mh = openWithLibmpg123(path, false);
  if (!scanned || !mh) return d;
  d.length = mpg123_length(scanned.get());
  int channels = 0, encoding = 0;
  mpg123_getformat(mh.get(), &d.rate, &channels, &encoding);
  unsigned char buffer[16384];
  std::size_t got = 0;
  int err = MPG123_OK;
  while ((err = mpg123_read(mh.get(), buffer, sizeof buffer, &got)) == MPG123_OK || err == MPG123_NEW_FORMAT)
    d.pcm.append(reinterpret_cast<const char *>(buffer), static_cast<qsizetype>(got));
  d.pcm.append(reinterpret_cast<const char *>(buffer), static_cast<qsizetype>(got));
  d.failed = err != MPG123_DONE;
  d.samples = d.pcm.size() / 2 / std::max(channels, 1);

  // The frames as libmpg123 finds them, without decoding.
  Handle fh = openWithLibmpg123(path);
  if (!fh) return d;
  mpg123_seek_frame(fh.get(), 0, SEEK_SET);
  while (mpg123_framebyframe_next(fh.get()) == MPG123_OK) {
    unsigned long header = 0;
    unsigned char *body = nullptr;
    std::size_t bytes = 0;
    if (mpg123_framedata(fh.get(), &header, &body, &bytes) != MPG123_OK) break;
    QByteArray frame(4, '\0');
    for (int i = 0; i < 4; ++i) frame[i] = static_cast<char>(header >> (24 - 8 * i));
    d.frames << frame + QByteArray(reinterpret_cast<const char *>(body), static_cast<qsizetype>(bytes));
  }
  return d;
}

// Where libmpg123 puts the start of audio frame `frame` in its output.
qint64 sampleOfFrame(const QString &path, qint64 frame) {
  Handle mh = openWithLibmpg123(path);
  mpg123_seek_frame(mh.get(), frame, SEEK_SET);
  return mpg123_tell(mh.get());
}

// ffmpeg's decode; its warnings and errors land in `messages`.
QByteArray ffmpegDecode(const QString &path, QString &messages) {
  QProcess p;
  p.start(QStringLiteral("ffmpeg"),
          {"-v", "warning", "-nostdin", "-f", "mp3", "-i", path, "-f", "s16le", "-acodec", "pcm_s16le", "-"});
  p.waitForFinished(30000);
  messages += QString::fromLocal8Bit(p.readAllStandardError());
  return p.readAllStandardOutput();
}

// The size of a file's ID3v2 tag, header included.
qint64 id3v2Size(const QByteArray &bytes) {
  if (!bytes.startsWith("ID3") || bytes.size() < 10) return 0;
  auto at = [&](int i) { return static_cast<qint64>(static_cast<unsigned char>(bytes[i])); };
  return 10 + (at(6) << 21 | at(7) << 14 | at(8) << 7 | at(9));
}

// Whether two decodes of 16-bit samples differ by at most one step anywhere.
bool withinOneStep(const QByteArray &a, const QByteArray &b) {
  if (a.size() != b.size()) return false;
  const auto *x = reinterpret_cast<const qint16 *>(a.constData());
  const auto *y = reinterpret_cast<const qint16 *>(b.constData());
  for (qsizetype i = 0; i < a.size() / 2; ++i)
    if (std::abs(x[i] - y[i]) > 1) return false;
  return true;
}

// The first byte at which two decodes part, for the message.
QString firstDifference(const QByteArray &a, const QByteArray &b) {
  qsizetype i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return QStringLiteral("%1 and %2 bytes, first difference at byte %3").arg(a.size()).arg(b.size()).arg(i);
}

// The LAME tag's CRC-16, reckoned bit by bit.
unsigned crcBitByBit(unsigned crc, const char *bytes, qint64 size) {
  for (qint64 i = 0; i < size; ++i) {
    crc ^= static_cast<unsigned char>(bytes[i]);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

// Where a Layer III piece's LAME tag gives a music CRC: whether it is the
// CRC-16 of the frames after its Info frame (an ID3v1 tag aside), reckoned
// here bit by bit.
bool musicCrcHolds(const QByteArray &piece) {
  const qint64 at = id3v2Size(piece);
  const auto *frame = reinterpret_cast<const unsigned char *>(piece.constData()) + at;
  mpeg::Header h;
  if (!mpeg::parseHeader(frame, h) || h.layer != 3) return true;
  const mpeg::InfoTag tag = mpeg::readInfoTag(frame, h);
  if (tag.lameAt < 0) return false;
  const qint64 end = piece.size() - (piece.right(128).startsWith("TAG") ? 128 : 0);
  const unsigned crc = crcBitByBit(0, piece.constData() + at + h.size, end - at - h.size);
  return crc == (static_cast<unsigned>(frame[tag.lameAt + 32]) << 8 | frame[tag.lameAt + 33]);
}

// An ID3v2 text frame's body of ASCII text in encoding 0 (Latin-1), 1
// (UTF-16 with a BOM, little-endian), 2 (UTF-16BE) or 3 (UTF-8); `ended`,
// with a NUL after it.
QByteArray textBody(int encoding, const QByteArray &ascii, bool ended = false) {
  QByteArray body(1, static_cast<char>(encoding));
  if (encoding == 1) body += "\xFF\xFE";
  for (char c : ascii + QByteArray(ended ? 1 : 0, '\0')) {
    if (encoding == 2) body += '\0';
    body += c;
    if (encoding == 1) body += '\0';
  }
  return body;
}

// A record as pieces cut before version 4 carried it: the same fields but
// the sums, in 72 bytes, the last two their CRC.
QByteArray olderRecord(const split::Mark &m) {
  QByteArray out("Tcut\x03", 5);
  const auto put = [&out](std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(v >> (8 * i));
  };
  put(static_cast<std::uint64_t>((m.carriers << 2) | (m.untrimmed ? 2 : 0) | (m.length.empty() ? 0 : 1)), 1);
  put(m.piece, 4);
  put(m.count, 4);
  put(m.source, 8);
  put(static_cast<std::uint64_t>(m.first), 8);
  put(static_cast<std::uint64_t>(m.id3v1Track), 1);
  put(m.id3v2Size, 4);
  out += static_cast<char>(m.track.size()) + QByteArray::fromStdString(m.track);
  if (!m.length.empty()) out += static_cast<char>(m.length.size()) + QByteArray::fromStdString(m.length);
  out.resize(70, '\0');
  put(crcBitByBit(0, out.constData(), out.size()), 2);
  return out;
}

}  // namespace

class TestExact : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  int runs_ = 0;

  // A fresh folder, made the current one.
  QString freshFolder() {
    const QString folder = dir_.filePath(QString::number(++runs_));
    QDir().mkpath(folder);
    QDir::setCurrent(folder);
    return folder;
  }

  static split::Outcome split(const QString &method, const QString &source, const QString &value, Recorder &r) {
    const QString tmpl = QStringLiteral("piece-%track%.mp3");
    if (method == u"time") return split::splitByTime(source, value, 0, tmpl, r, true);
    if (method == u"size") return split::splitBySize(source, value, tmpl, r, true);
    return split::splitAtBreakpoints(source, 0, value.split(u','), tmpl, r, true);
  }

 private slots:
  // The music CRC, reckoned in runs of any length from any start and then
  // combined, is always what the bit-by-bit reckoning gives.
  void crcAgreesWithTheBitByBitReckoning() {
    QRandomGenerator random(11);
    QByteArray bytes(20000, Qt::Uninitialized);
    for (char &b : bytes) b = static_cast<char>(random.bounded(256));
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    for (int round = 0; round < 500; ++round) {
      const qint64 from = random.bounded(64), length = random.bounded(9000), split = random.bounded(length + 1);
      const auto start = static_cast<std::uint16_t>(random.bounded(65536));
      mpeg::Crc16 whole(start), first(start), second;
      whole.update(data + from, static_cast<std::size_t>(length));
      first.update(data + from, static_cast<std::size_t>(split));
      second.update(data + from + split, static_cast<std::size_t>(length - split));
      const unsigned expected = crcBitByBit(start, bytes.constData() + from, length);
      QCOMPARE(whole.value(), expected);
      QCOMPARE(mpeg::Crc16::combine(first.value(), second.value(), static_cast<std::uint64_t>(length - split)),
               expected);
    }
  }

  // The sum of a source's audio and of a piece's tags is as mpeg/Sum.h
  // defines it (the values from a Python reading of that text), fed in
  // runs of any length, a few stripes at a time (the plain way), more
  // (AVX2) or many (AVX-512): pieces keep it, and a piece cut on one
  // machine joins on another.
  void sumIsAsDefined_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint64>("sum");
    QTest::newRow("nothing") << QByteArray() << Q_UINT64_C(0x57b7fa53bec01a02);
    QTest::newRow("abc") << QByteArray("abc") << Q_UINT64_C(0xdbc5b584d6534586);
    QTest::newRow("63 bytes, less than a stripe") << patternBytes(63) << Q_UINT64_C(0x68ca28aee07a05d6);
    QTest::newRow("64 bytes, a stripe") << patternBytes(64) << Q_UINT64_C(0x30b11bb453a8885c);
    QTest::newRow("100 bytes") << patternBytes(100) << Q_UINT64_C(0xefb0c928a3776be1);
    QTest::newRow("1,024 bytes, a block") << patternBytes(1024) << Q_UINT64_C(0x9217f6e73ac6fbe4);
    QTest::newRow("1,088 bytes, a block and a stripe") << patternBytes(1088) << Q_UINT64_C(0x3aa716db1761dae3);
    QTest::newRow("100,000 bytes") << patternBytes(100000) << Q_UINT64_C(0xea3bc4637ed879d6);
  }
  void sumIsAsDefined() {
    QFETCH(QByteArray, bytes);
    QFETCH(quint64, sum);
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    QRandomGenerator random(29);
    for (int round = 0; round < 40; ++round) {
      mpeg::Sum64 fed;
      for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype n = std::min<qsizetype>(bytes.size() - at, random.bounded(round < 20 ? 70 : 5000));
        fed.update(data + at, static_cast<std::size_t>(n));
        at += n;
      }
      QCOMPARE(fed.value(), sum);
    }
  }

  void exactPiecesPlayAsTheSource_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("method");
    QTest::addColumn<bool>("toTheSample");   // Layers I and II are cut to the frame
    QTest::addColumn<bool>("ffmpegAgrees");  // on the source's own samples
    const char *files[] = {"cbr-info.mp3",   "vbr-xing.mp3", "abr.mp3",         "mpeg2-vbr.mp3",
                           "mpeg2-mono.mp3", "vbr-48k.mp3",  "ffmpeg-lame.mp3", "mpeg25-mono.mp3",
                           "cbr-noinfo.mp3", "shine.mp3",    "big-id3.mp3",     "layer2.mp2",
                           "junk-front.mp3", "ape-tag.mp3",  "mpeg1-mono.mp3",  "crc-vbr.mp3"};
    for (const char *file : files) {
      const QString name = QString::fromLatin1(file);
      for (const char *method : {"time", "size", "frames"}) {
        // shine's last frame is cut short: ffmpeg plays it, libmpg123 does not.
        // ffmpeg estimates the length of Layer II pieces, which have no Info frame.
        QTest::addRow("%s %s", file, method)
            << name << QString::fromLatin1(method) << (name != u"layer2.mp2") << (name != u"shine.mp3");
      }
    }
  }
  void exactPiecesPlayAsTheSource() {
    QFETCH(QString, file);
    QFETCH(QString, method);
    QFETCH(bool, toTheSample);
    QFETCH(bool, ffmpegAgrees);
    const QString source = media(file);
    if (!QFileInfo::exists(source)) QSKIP("made only where shineenc is installed");
    const Decoded whole = decode(source);
    QVERIFY(!whole.failed);
    freshFolder();

    QString value;
    qint64 limit = 0;
    if (method == u"time") {
      value = QStringLiteral("1.3");
    } else if (method == u"size") {
      // A third of the audio, and the tag that goes to every piece.
      const qint64 tag = id3v2Size(readAll(source));
      limit = tag + (QFileInfo(source).size() - tag) / 3 + 4096;
      value = QString::number(limit / 1024);
      limit = value.toLongLong() * 1024;
    } else {
      value = QStringLiteral("0,20,51,100000");
    }
    Recorder r;
    const split::Outcome out = split(method, source, value, r);
    QVERIFY2(out.completed, qPrintable(r.failures.join(u'\n')));
    QVERIFY(out.pieces.size() >= 3);
    // Pieces written ahead by a guess at the source that the walk did not
    // confirm (an APE tag, shine's frames) leave nothing behind.
    QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), out.pieces);

    QByteArray together;
    QList<qint64> lengths;
    for (const QString &piece : out.pieces) {
      const Decoded d = decode(piece);
      QVERIFY2(!d.failed, qPrintable(piece));
      // The piece tells its own length, and the checksum of its music.
      QCOMPARE(d.length, d.samples);
      QVERIFY2(musicCrcHolds(readAll(piece)), qPrintable(piece));
      QCOMPARE(d.rate, whole.rate);
      lengths << d.samples;
      together += d.pcm;
      if (limit > 0) QVERIFY2(QFileInfo(piece).size() <= limit, qPrintable(piece));
      QVERIFY2(takesOnlyItsSpace(piece), qPrintable(piece));
    }
    // libmpg123 may round a few samples after a cut of one-granule frames
    // (MPEG-2 and 2.5) one step apart from the source, as it may those of
    // one channel after a scan; ffmpeg, below, may not.
    if (!toTheSample)
      QCOMPARE(together.size(), whole.pcm.size());
    else if (whole.rate >= 32000)
      QVERIFY2(together == whole.pcm, qPrintable(firstDifference(together, whole.pcm)));
    else
      QVERIFY2(withinOneStep(together, whole.pcm), qPrintable(firstDifference(together, whole.pcm)));

    if (method == u"time" && toTheSample) {
      const qint64 length = whole.rate * 13 / 10;
      for (qsizetype i = 0; i + 1 < lengths.size(); ++i) QCOMPARE(lengths[i], length);
      QVERIFY(lengths.last() <= length);
    } else if (method == u"frames") {
      QCOMPARE(lengths[0], sampleOfFrame(source, 20));
      QCOMPARE(lengths[1], sampleOfFrame(source, 51) - sampleOfFrame(source, 20));
    }

    // ffmpeg hears the same, without a word of warning (once a source: it is slow).
    if (method != u"time") return;
    QString messages;
    QByteArray heard;
    for (const QString &piece : out.pieces) heard += ffmpegDecode(piece, messages);
    if (toTheSample) QVERIFY2(messages.isEmpty(), qPrintable(messages));
    QCOMPARE(heard.size(), together.size());
    if (toTheSample && ffmpegAgrees) {
      // ffmpeg has no such phase: its decode of the pieces is the source's to the bit.
      const QByteArray alone = ffmpegDecode(source, messages);
      QVERIFY2(heard == alone, qPrintable(firstDifference(heard, alone)));
    }
  }

  // A rest of exactly one frame is a piece of its own, and plays it; less
  // would go with the piece before. (vbr-48k.mp3 plays 192,000 samples,
  // mpeg25-mono.mp3 57,600, in frames of 1,152 and 576.)
  void aRestOfOneFrameIsAPiece_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("seconds");
    QTest::addColumn<QString>("lengths");  // of the pieces, in samples
    QTest::addColumn<bool>("toTheBit");    // else a step apart at most (one-granule frames)
    QTest::newRow("MPEG-1") << "vbr-48k.mp3" << "1.988" << "95424 95424 1152" << true;
    QTest::newRow("MPEG-1, a rest two samples short of a frame") << "vbr-48k.mp3" << "1.98802" << "95425 96575" << true;
    QTest::newRow("MPEG-2.5") << "mpeg25-mono.mp3" << "3.564" << "28512 28512 576" << false;
  }
  void aRestOfOneFrameIsAPiece() {
    QFETCH(QString, file);
    QFETCH(QString, seconds);
    QFETCH(QString, lengths);
    QFETCH(bool, toTheBit);
    freshFolder();
    Recorder r;
    const split::Outcome out = split(QStringLiteral("time"), media(file), seconds, r);
    QVERIFY2(out.completed, qPrintable(r.failures.join(u'\n')));
    QStringList got;
    QByteArray together;
    for (const QString &piece : out.pieces) {
      const Decoded d = decode(piece);
      QCOMPARE(d.length, d.samples);
      got << QString::number(d.samples);
      together += d.pcm;
    }
    QCOMPARE(got.join(u' '), lengths);
    const QByteArray whole = decode(media(file)).pcm;
    QVERIFY2(toTheBit ? together == whole : withinOneStep(together, whole), qPrintable(firstDifference(together, whole)));
  }

  // libmpg123's synthesis turns its phase with every frame (ExactPlan's
  // carriersFor). Pieces of one-granule frames (MPEG-2 and 2.5) cut at a
  // frame whose number is 0 or 3 counted in fours get the carriers that
  // bring the decoder to the source's phase at the cut, and play the
  // source's samples to the bit; cut elsewhere, a few samples may be a step
  // apart, never more. Each row cuts at frames of the four phases (40, 61,
  // 82, 103 or 20, 41, 62, 83); the pieces to the bit are written out by number.
  void carriersMeetTheDecodersPhase_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("frames");
    QTest::addColumn<QString>("toTheBit");
    QTest::newRow("MPEG-2 mono") << "mpeg2-mono.mp3" << "0,40,61,82,103,100000" << "1 2 5";
    QTest::newRow("MPEG-2 stereo VBR") << "mpeg2-vbr.mp3" << "0,40,61,82,103,100000" << "1 2 5";
    QTest::newRow("MPEG-2.5 mono") << "mpeg25-mono.mp3" << "0,20,41,62,83,100000" << "1 2 5";
  }
  void carriersMeetTheDecodersPhase() {
    QFETCH(QString, file);
    QFETCH(QString, frames);
    QFETCH(QString, toTheBit);
    freshFolder();
    Recorder r;
    const split::Outcome out = split(QStringLiteral("frames"), media(file), frames, r);
    QVERIFY2(out.completed && out.pieces.size() == 5, qPrintable(r.failures.join(u'\n')));
    const QByteArray whole = decode(media(file)).pcm;
    const QStringList exact = toTheBit.split(u' ');
    qsizetype at = 0;
    for (qsizetype k = 0; k < out.pieces.size(); ++k) {
      const QByteArray piece = decode(out.pieces[k]).pcm, source = whole.mid(at, piece.size());
      at += piece.size();
      const QString where = QStringLiteral("%1: %2").arg(out.pieces[k], firstDifference(piece, source));
      if (exact.contains(QString::number(k + 1)))
        QVERIFY2(piece == source, qPrintable(where));
      else
        QVERIFY2(withinOneStep(piece, source), qPrintable(where));
    }
    QCOMPARE(at, whole.size());
  }

  // Joined, exact pieces give back the source's frames and its sound.
  // By size, a piece takes every frame that fits: with the next frame of the
  // source it would be over the limit. (At 8 KB, pieces of this file often
  // fill the limit to the byte.)
  // No piece by size plays less than a frame, which players do not play
  // right: not a first piece of one frame less the decoder's delay, not a
  // last one of the padding's frame alone. Where none can, the size is
  // refused.
  void noPieceBySizePlaysLessThanAFrame() {
    split::MpegFile src;
    const int fd = ::open(QFile::encodeName(media(QStringLiteral("cbr-info.mp3"))).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(fd >= 0 && split::readMpegFile(fd, src));
    ::close(fd);
    int planned = 0;
    for (std::int64_t limit = 400; limit < 6000; limit += 7) {
      const auto pieces = split::exact::piecesBySize(src.layout, limit, 0, 0);
      if (!pieces) continue;
      ++planned;
      for (const split::exact::Piece &p : *pieces) QVERIFY2(p.samples() >= 1152, qPrintable(QString::number(limit)));
    }
    QVERIFY(planned > 100);
  }

  void aPieceBySizeTakesEveryFrameThatFits() {
    freshFolder();
    Recorder r;
    const QString source = media(QStringLiteral("vbr-xing.mp3"));
    const split::Outcome out = split(QStringLiteral("size"), source, QStringLiteral("8"), r);
    QVERIFY(out.completed && out.pieces.size() > 10);
    auto walk = [](const QString &path, split::MpegFile &file) {
      const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
      const bool read = fd >= 0 && split::readMpegFile(fd, file);
      if (fd >= 0) ::close(fd);
      return read;
    };
    split::MpegFile walked;
    QVERIFY(walk(source, walked));
    // The one before the last may leave the last a frame's worth of sound.
    for (qsizetype k = 0; k + 2 < out.pieces.size(); ++k) {
      split::MpegFile piece;
      QVERIFY(walk(out.pieces[k], piece));
      const auto mark = split::decodeMark(
          mpeg::extraBytes(piece.firstFrame.data(), piece.layout.stream.first, split::kMarkSize));
      QVERIFY(mark);
      const std::int64_t next = mark->first + piece.layout.frames() - mark->carriers;
      const qint64 size = QFileInfo(out.pieces[k]).size();
      QVERIFY(size <= 8192);
      QVERIFY2(size + walked.layout.frameSize(next) > 8192,
               qPrintable(QStringLiteral("%1: %2 bytes, and frame %3 of %4 would fit")
                              .arg(out.pieces[k])
                              .arg(size)
                              .arg(next)
                              .arg(walked.layout.frameSize(next))));
    }
  }

  // join checks what it reads: a piece changed byte by byte from a real
  // split is refused, naming it and why, and nothing is written. Its
  // record, its frames (Layer II as well), and what a join gives back from
  // it besides them: its ID3v2 and ID3v1 tags, its LAME tag's delay and
  // padding, its Info frame's counts.
  void joinChecksWhatItReads_data() {
    QTest::addColumn<QString>("file");  // split by time, pieces of 3 s
    QTest::addColumn<int>("piece");     // from 0
    QTest::addColumn<QByteArray>(
        "near");                  // where: the first of these bytes in the piece ("TAG": the last); "": its middle
    QTest::addColumn<int>("at");  // from there
    QTest::addColumn<QByteArray>("bytes");  // put there, or where `flip` xored with the bytes there
    QTest::addColumn<bool>("flip");
    QTest::addColumn<int>("cut");  // bytes cut from the piece's end
    QTest::addColumn<QString>("says");
    const QString record = QStringLiteral("its record is damaged");
    const QString frames = QStringLiteral("its frames do not match the checksum it was written with");
    const QString tags = QStringLiteral("its tags or its Info frame changed after it was cut");
    QTest::newRow("the source's tag size")
        << "vbr-xing.mp3" << 0 << QByteArray("Tcut") << 31 << QByteArray("\x7f\xff\xff\xff", 4) << false << 0 << record;
    QTest::newRow("no carrier frame") << "vbr-xing.mp3" << 1 << QByteArray("Tcut") << 5 << QByteArray(1, '\0') << false
                                      << 0 << record;
    QTest::newRow("another first frame") << "vbr-xing.mp3" << 1 << QByteArray("Tcut") << 29 << QByteArray(1, '\x09')
                                         << false << 0 << record;
    QTest::newRow("another piece number")
        << "vbr-xing.mp3" << 2 << QByteArray("Tcut") << 9 << QByteArray(1, '\x01') << false << 0 << record;
    QTest::newRow("a frame's bytes") << "vbr-xing.mp3" << 1 << QByteArray() << 0 << QByteArray("\x55\xaa", 2) << false
                                     << 0 << frames;
    QTest::newRow("a Layer II frame's bytes")
        << "layer2.mp2" << 1 << QByteArray() << 0 << QByteArray("\x55\xaa", 2) << false << 0 << frames;
    QTest::newRow("a bit of piece 1's title")
        << "big-id3.mp3" << 0 << QByteArray("Tranchette test") << 3 << QByteArray(1, '\x01') << true << 0 << tags;
    // The LAME tag ends where the record begins: its delay and padding 15
    // to 13 bytes before, the Info frame's byte count 144 to 141 (a frame
    // count that is not the piece's makes it a piece cut short).
    QTest::newRow("a bit of piece 1's encoder delay")
        << "vbr-xing.mp3" << 0 << QByteArray("Tcut") << -15 << QByteArray(1, '\x01') << true << 0 << tags;
    QTest::newRow("a bit of the last piece's padding")
        << "vbr-xing.mp3" << 3 << QByteArray("Tcut") << -13 << QByteArray(1, '\x01') << true << 0 << tags;
    QTest::newRow("a bit of piece 1's byte count")
        << "vbr-xing.mp3" << 0 << QByteArray("Tcut") << -141 << QByteArray(1, '\x01') << true << 0 << tags;
    QTest::newRow("a bit of piece 1's ID3v1 title")
        << "id3v1.mp3" << 0 << QByteArray("TAG") << 3 << QByteArray(1, '\x01') << true << 0 << tags;
    QTest::newRow("piece 1's ID3v1 cut short")
        << "id3v1.mp3" << 0 << QByteArray() << 0 << QByteArray() << false << 50 << tags;
  }
  void joinChecksWhatItReads() {
    QFETCH(QString, file);
    QFETCH(int, piece);
    QFETCH(QByteArray, near);
    QFETCH(int, at);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, flip);
    QFETCH(int, cut);
    QFETCH(QString, says);
    freshFolder();
    Recorder r;
    const split::Outcome out = split(QStringLiteral("time"), media(file), QStringLiteral("3"), r);
    QVERIFY(out.completed && out.pieces.size() > std::max(piece, 1));
    QByteArray changed = readAll(out.pieces[piece]);
    const qsizetype from = near.isEmpty()  ? changed.size() / 2
                           : near == "TAG" ? changed.lastIndexOf(near)
                                           : changed.indexOf(near);
    QVERIFY(from > 0);
    const qsizetype where = from + at;
    QByteArray put = bytes;
    for (qsizetype i = 0; flip && i < put.size(); ++i) put[i] = static_cast<char>(put[i] ^ changed[where + i]);
    QVERIFY(changed.mid(where, put.size()) != put || put.isEmpty());
    changed.replace(where, put.size(), put);
    changed.chop(cut);
    writeFile(out.pieces[piece], changed);
    const auto refused = split::joinPieces(out.pieces, QStringLiteral("joined.mp3"));
    QVERIFY(refused);
    QCOMPARE(refused->file, out.pieces[piece]);
    QVERIFY2(refused->text.contains(says), qPrintable(refused->text));
    QVERIFY(!QFileInfo::exists(QStringLiteral("joined.mp3")));
  }

  // Pieces cut before their records held the sums of their tags and audio
  // join as they did, but for one line that says their tags go unchecked:
  // a title changed since goes into the join.
  void piecesCutBeforeJoinAsTheyDid_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("Layer III under an ID3v2 tag") << "big-id3.mp3";
    QTest::newRow("Layer III with an ID3v1 tag") << "id3v1.mp3";
    QTest::newRow("Layer II") << "layer2.mp2";
  }
  void piecesCutBeforeJoinAsTheyDid() {
    QFETCH(QString, file);
    freshFolder();
    Recorder r;
    const split::Outcome out = split(QStringLiteral("time"), media(file), QStringLiteral("1.5"), r);
    QVERIFY(out.completed && out.pieces.size() >= 2);
    for (const QString &piece : out.pieces) {
      QByteArray bytes = readAll(piece);
      const qint64 tagSize = id3v2Size(bytes);
      const mpeg::Bytes tag(bytes.begin(), bytes.begin() + tagSize);
      const qsizetype at = bytes.indexOf("Tcut");
      QVERIFY(at > 0);
      const auto mark =
          split::decodeMark(std::vector<unsigned char>(bytes.begin() + at, bytes.begin() + at + split::kMarkSize));
      QVERIFY(mark && mark->version == 4);
      const QByteArray older = olderRecord(*mark);
      if (at >= tagSize) {  // after the LAME tag
        bytes.replace(at, split::kMarkSize, older + QByteArray(split::kMarkSize - older.size(), '\0'));
      } else {
        const mpeg::Bytes olderTag = mpeg::withPrivate(tag, split::kMarkOwner, mpeg::Bytes(older.begin(), older.end()));
        QCOMPARE(olderTag.size(), tag.size());
        bytes.replace(0, tagSize, QByteArray(reinterpret_cast<const char *>(olderTag.data()), tagSize));
      }
      if (piece == out.pieces[0] && bytes.indexOf("Tranchette test") > 0) bytes[bytes.indexOf("Tranchette test")] = 'W';
      writeFile(piece, bytes);
    }
    QString as;
    std::vector<split::Message> told;
    QCOMPARE(split::joinPieces(out.pieces, QStringLiteral("joined.mp3"), &as, &told), std::nullopt);
    QCOMPARE(told.size(), std::size_t{1});
    QCOMPARE(told[0].file, out.pieces[0]);
    QCOMPARE(told[0].brief, QStringLiteral("cut by an earlier version: the tags of the pieces are not checked"));
    QVERIFY(decode(QStringLiteral("joined.mp3")).frames == decode(media(file)).frames);
    if (file == u"big-id3.mp3") QVERIFY(readAll(QStringLiteral("joined.mp3")).contains("Wranchette test"));
  }

  void joinGivesBackTheSource_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("method");
    QTest::newRow("vbr by time") << "vbr-xing.mp3"
                                 << "time";
    QTest::newRow("no Info frame by size") << "cbr-noinfo.mp3"
                                           << "size";
    QTest::newRow("tags by frames") << "big-id3.mp3"
                                    << "frames";
    QTest::newRow("mpeg 2 by time") << "mpeg2-vbr.mp3"
                                    << "time";
    QTest::newRow("mpeg 2.5 by frames") << "mpeg25-mono.mp3"
                                        << "frames";
    QTest::newRow("layer 2 by time") << "layer2.mp2"
                                     << "time";
    QTest::newRow("id3v1 by time") << "id3v1.mp3"
                                   << "time";
    // Planned from a guess at its length that the walk then corrects.
    QTest::newRow("vbr without a Xing frame by time") << "vbr-noxing.mp3"
                                                      << "time";
    QTest::newRow("vbr without a Xing frame by size") << "vbr-noxing.mp3"
                                                      << "size";
  }
  void joinGivesBackTheSource() {
    QFETCH(QString, file);
    QFETCH(QString, method);
    const QString source = media(file);
    const Decoded whole = decode(source);
    freshFolder();
    Recorder r;
    const split::Outcome out = split(method, source,
                                     method == u"size"   ? QStringLiteral("40")
                                     : method == u"time" ? QStringLiteral("0.9")
                                                         // the last piece past the end, not written
                                                         : QStringLiteral("0,13,40,1000000,2000000"),
                                     r);
    QVERIFY2(out.completed && out.pieces.size() >= 3, qPrintable(r.failures.join(u'\n')));
    // Space set aside by a guess that the walk corrected is given back.
    for (const QString &piece : out.pieces) QVERIFY2(takesOnlyItsSpace(piece), qPrintable(piece));
    QCOMPARE(split::joinPieces(out.pieces, QStringLiteral("joined.mp3")), std::nullopt);
    const Decoded joined = decode(QStringLiteral("joined.mp3"));
    QCOMPARE(joined.frames.size(), whole.frames.size());
    QVERIFY(joined.frames == whole.frames);
    QVERIFY2(joined.pcm == whole.pcm, qPrintable(firstDifference(joined.pcm, whole.pcm)));
    QCOMPARE(joined.length, whole.length);
    // The tags are the source's again, track number and all.
    const QByteArray original = readAll(source), again = readAll(QStringLiteral("joined.mp3"));
    const qint64 tag = id3v2Size(original);
    QVERIFY(tag == 0 || again.left(tag) == original.left(tag));
    // ...while every piece has its own.
    const QByteArray track = "\0" + QByteArray::number(out.pieces.size()) + "/" + QByteArray::number(out.pieces.size());
    if (tag > 0) QVERIFY(readAll(out.pieces.last()).left(tag + 64).contains("TRCK"));
    if (tag > 0) QVERIFY(readAll(out.pieces.last()).left(tag + 64).contains(track));
    // ...and its own length in milliseconds, where the source tells its own.
    const qsizetype length = original.left(tag).indexOf("TLEN");
    for (qsizetype i = 0; length > 0 && i < out.pieces.size(); ++i) {
      const Decoded piece = decode(out.pieces[i]);
      const QByteArray bytes = readAll(out.pieces[i]);
      const QByteArray own = QByteArray::number(qRound64(static_cast<double>(piece.length) * 1000 / piece.rate));
      const qsizetype at = bytes.indexOf("TLEN");
      QCOMPARE(bytes.mid(at + 4, 4), QByteArray("\0\0\0", 3) + char(1 + own.size()));  // no NULs after the digits
      QCOMPARE(bytes.mid(at + 11, own.size()), own);
    }
    if (original.right(128).startsWith("TAG")) {
      QVERIFY(again.right(128) == original.right(128));
      for (qsizetype i = 0; i < out.pieces.size(); ++i) {
        const QByteArray v1 = readAll(out.pieces[i]).right(128);
        QVERIFY(v1.startsWith("TAG") && v1[125] == 0 && v1[126] == static_cast<char>(i + 1));
      }
    }
  }

  // A source of many megabytes, behind a tag of megabytes: its pieces are
  // written while the walk reads it, a megabyte at a time, and must be
  // whole pieces all the same, however their frames fall across those
  // megabytes.
  void longSourcesAreCutAsTheyAreRead_data() {
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("value");
    QTest::newRow("by size") << "size"
                             << "6000";  // the tag goes to every piece
    QTest::newRow("by time") << "time"
                             << "37";
    QTest::newRow("at frames") << "frames"
                               << "0,1000,1001,5000,9000,20000";
  }
  void longSourcesAreCutAsTheyAreRead() {
    QFETCH(QString, method);
    QFETCH(QString, value);
    freshFolder();
    const QByteArray frames = readAll(media(QStringLiteral("cbr-noinfo.mp3")));
    QByteArray bytes("ID3\x04\x00\x00", 6);
    const int tag = 5 << 20;  // padding only
    for (int shift : {21, 14, 7, 0}) bytes.append(static_cast<char>((tag >> shift) & 0x7F));
    bytes.append(QByteArray(tag, '\0'));
    for (int i = 0; i < 40; ++i) bytes.append(frames);
    writeFile(QStringLiteral("long.mp3"), bytes);
    const Decoded whole = decode(QStringLiteral("long.mp3"));
    Recorder r;
    const split::Outcome out = split(method, QStringLiteral("long.mp3"), value, r);
    QVERIFY2(out.completed && out.pieces.size() >= 5, qPrintable(r.failures.join(u'\n')));
    for (const QString &piece : out.pieces) {
      const Decoded d = decode(piece);
      QCOMPARE(d.length, d.samples);
      QVERIFY2(musicCrcHolds(readAll(piece)), qPrintable(piece));
    }
    QCOMPARE(split::joinPieces(out.pieces, QStringLiteral("joined.mp3")), std::nullopt);
    QVERIFY(decode(QStringLiteral("joined.mp3")).frames == whole.frames);
  }

  // Pieces by the thousand, where a process may hold 1024 files open: join
  // holds one piece open at a time.
  void joinTakesMorePiecesThanFilesCanBeOpen() {
    const QString source = media(QStringLiteral("cbr-info.mp3"));
    freshFolder();
    Recorder r;
    const split::Outcome out = split(QStringLiteral("time"), source, QStringLiteral("0.1"), r);
    QVERIFY2(out.completed && out.pieces.size() >= 90, qPrintable(r.failures.join(u'\n')));
    rlimit before{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &before), 0);
    rlimit few = before;
    few.rlim_cur = 64;
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &few), 0);
    const auto refused = split::joinPieces(out.pieces, QStringLiteral("joined.mp3"));
    ::setrlimit(RLIMIT_NOFILE, &before);
    QVERIFY2(!refused, qPrintable(refused ? refused->text : QString()));
    QVERIFY(decode(QStringLiteral("joined.mp3")).frames == decode(source).frames);
  }

  void joinRefusesWhatIsNotOneCut() {
    freshFolder();
    Recorder r;
    const split::Outcome a = split::splitByTime(media(QStringLiteral("vbr-xing.mp3")), QStringLiteral("3"), 0,
                                                QStringLiteral("a-%track%.mp3"), r, true);
    const split::Outcome b = split::splitByTime(media(QStringLiteral("cbr-info.mp3")), QStringLiteral("3"), 0,
                                                QStringLiteral("b-%track%.mp3"), r, true);
    // The same source cut another way.
    const split::Outcome other = split::splitByTime(media(QStringLiteral("vbr-xing.mp3")), QStringLiteral("2"), 0,
                                                    QStringLiteral("c-%track%.mp3"), r, true);
    QVERIFY(a.pieces.size() >= 3 && b.pieces.size() >= 3 && other.pieces.size() > a.pieces.size());
    // Two recordings of the same length that share their first 5 s: the
    // pieces of one after the first of the other are not its pieces, even
    // where a piece of the other says it is (its record rewritten).
    const split::Outcome introA = split::splitByTime(media(QStringLiteral("intro-a.mp3")), QStringLiteral("3"), 0,
                                                     QStringLiteral("ia-%track%.mp3"), r, true);
    const split::Outcome introB = split::splitByTime(media(QStringLiteral("intro-b.mp3")), QStringLiteral("3"), 0,
                                                     QStringLiteral("ib-%track%.mp3"), r, true);
    QVERIFY(introA.pieces.size() == 4 && introB.pieces.size() == 4);
    QByteArray forged = readAll(introB.pieces[1]);
    const qsizetype record = forged.indexOf("Tcut");
    const auto markOf = [](const QByteArray &bytes, qsizetype at) {
      return split::decodeMark(std::vector<unsigned char>(bytes.begin() + at, bytes.begin() + at + split::kMarkSize));
    };
    auto mark = markOf(forged, record);
    const auto markA = markOf(readAll(introA.pieces[1]), readAll(introA.pieces[1]).indexOf("Tcut"));
    QVERIFY(record > 0 && mark && markA && mark->source != markA->source);
    mark->source = markA->source;
    const std::vector<unsigned char> rewritten = split::encodeMark(*mark);
    forged.replace(
        record, static_cast<qsizetype>(rewritten.size()),
        QByteArray(reinterpret_cast<const char *>(rewritten.data()), static_cast<qsizetype>(rewritten.size())));
    writeFile(QStringLiteral("forged.mp3"), forged);
    const QString out = QStringLiteral("joined.mp3");
    const QByteArray second = readAll(a.pieces[1]);
    writeFile(QStringLiteral("cut.mp3"), second.left(second.size() - 100));  // a download cut short
    const struct {
      QStringList pieces;
      QString named, says;
    } cases[] = {
        // A set that is not whole: the first piece missing is named.
        {{a.pieces[0], a.pieces[2]}, a.pieces[2], QStringLiteral("piece 2 is missing between")},
        {a.pieces.mid(1), a.pieces[1], QStringLiteral("piece 1 is missing before it")},
        {a.pieces.mid(0, a.pieces.size() - 1), a.pieces[a.pieces.size() - 2],
         QStringLiteral("piece %1 is missing after it").arg(a.pieces.size())},
        {{a.pieces[0], a.pieces[1], a.pieces[1]}, a.pieces[1], QStringLiteral("does not follow")},
        {{a.pieces[0], b.pieces[1]}, b.pieces[1], QStringLiteral("not a piece of the source")},
        {{a.pieces[0], other.pieces[1]}, other.pieces[1], QStringLiteral("pieces of two cuts do not join")},
        {{a.pieces[0], media(QStringLiteral("cbr-info.mp3"))},
         media(QStringLiteral("cbr-info.mp3")),
         QStringLiteral("not an exact piece")},
        {{a.pieces[0], QStringLiteral("missing.mp3")}, QStringLiteral("missing.mp3"), QStringLiteral("cannot open")},
        {{a.pieces[0], QStringLiteral("cut.mp3")},
         QStringLiteral("cut.mp3"),
         QStringLiteral("an exact piece, but cut short")},
        {{a.pieces[0], out}, out, QStringLiteral("cannot open")},
        {{introA.pieces[0], introB.pieces[1], introB.pieces[2], introB.pieces[3]},
         introB.pieces[1],
         QStringLiteral("not a piece of the source")},
        {{introA.pieces[0], QStringLiteral("forged.mp3"), introA.pieces[2], introA.pieces[3]},
         introA.pieces[0],
         QStringLiteral("the frames of the pieces are not those of the source")},
    };
    for (const auto &c : cases) {
      const auto refused = split::joinPieces(c.pieces, out);
      QVERIFY2(refused && refused->file == c.named && refused->text.contains(c.says),
               qPrintable(refused ? refused->text : c.named));
      QVERIFY(!QFileInfo::exists(out));
    }
    // Writing over one of its own pieces is refused as well.
    const auto over = split::joinPieces({a.pieces[0], a.pieces[1]}, a.pieces[1]);
    QVERIFY(over && over->file == a.pieces[1]);
    // So is a name that is no file to replace (as root: /dev/stdout).
    QCOMPARE(::mkfifo("fifo.mp3", 0644), 0);
    const auto fifo = split::joinPieces(a.pieces, QStringLiteral("fifo.mp3"));
    QVERIFY(fifo);
    QCOMPARE(fifo->text, QStringLiteral("Cannot create file: fifo.mp3 !\r\nIt is a FIFO, not a regular file."));
    QCOMPARE(fifo->brief, QStringLiteral("cannot create it: it is a FIFO, not a regular file"));
    struct stat st {};
    QVERIFY(::stat("fifo.mp3", &st) == 0 && S_ISFIFO(st.st_mode));
  }

  // A file of other bytes under the join's name (the source, with junk
  // before its first frame) stays, whatever its size: the join goes beside
  // it, "-joined". The very same bytes are replaced by themselves. Where the
  // name beside holds other bytes too, neither is replaced.
  void joinLeavesOtherBytesAlone_data() {
    QTest::addColumn<QString>("atName");  // what stands there: "", "other", "same size" (other bytes), "same"
    QTest::addColumn<QString>("beside");  // and under whole-joined.mp3
    QTest::addColumn<QString>("joinedAs");  // empty: refused
    QTest::newRow("nothing") << "" << "" << "whole.mp3";
    QTest::newRow("other bytes") << "other" << "" << "whole-joined.mp3";
    QTest::newRow("other bytes of the same size") << "same size" << "" << "whole-joined.mp3";
    QTest::newRow("the same bytes") << "same" << "" << "whole.mp3";
    QTest::newRow("the same bytes beside") << "other" << "same" << "whole-joined.mp3";
    QTest::newRow("other bytes beside") << "other" << "other" << "";
    QTest::newRow("other bytes of the same size beside") << "same size" << "same size" << "";
  }
  void joinLeavesOtherBytesAlone() {
    QFETCH(QString, atName);
    QFETCH(QString, beside);
    QFETCH(QString, joinedAs);
    freshFolder();
    Recorder r;
    const split::Outcome a = split(QStringLiteral("time"), media(QStringLiteral("vbr-xing.mp3")), QStringLiteral("3"), r);
    QVERIFY(a.completed && a.pieces.size() >= 3);
    QCOMPARE(split::joinPieces(a.pieces, QStringLiteral("reference.mp3")), std::nullopt);
    const QByteArray joined = readAll(QStringLiteral("reference.mp3"));
    QByteArray sameSize = joined;
    sameSize[sameSize.size() / 2] = static_cast<char>(sameSize[sameSize.size() / 2] ^ 0x01);
    const auto put = [&](const QString &name, const QString &what) -> QByteArray {
      const QByteArray bytes = what == u"other" ? QByteArray("not the join") : what == u"same size" ? sameSize : joined;
      if (!what.isEmpty()) writeFile(name, bytes);
      return what.isEmpty() ? QByteArray() : bytes;
    };
    const QByteArray there = put(QStringLiteral("whole.mp3"), atName), next = put(QStringLiteral("whole-joined.mp3"), beside);
    QString as;
    const auto refused = split::joinPieces(a.pieces, QStringLiteral("whole.mp3"), &as);
    if (joinedAs.isEmpty()) {
      QVERIFY(refused && refused->brief.contains(QStringLiteral("neither is replaced")));
    } else {
      QCOMPARE(refused, std::nullopt);
      QCOMPARE(as, joinedAs);
      QVERIFY(readAll(joinedAs) == joined);
    }
    if (joinedAs != u"whole.mp3") QVERIFY(readAll(QStringLiteral("whole.mp3")) == there);
    if (joinedAs != u"whole-joined.mp3") QVERIFY(readAll(QStringLiteral("whole-joined.mp3")) == next);
    QCOMPARE(QDir().entryList({QStringLiteral(".tranchette-*")}, QDir::Files | QDir::Hidden), QStringList());
  }

  // A FIFO that another program makes under the name of a piece written
  // ahead is left alone, and the pieces ahead go before the user hears why.
  void aNameThatTurnsIntoNoFileIsLeftAlone() {
    freshFolder();
    Recorder r;
    r.afterPiece = [](const QString &name) {
      if (name == QLatin1String("piece-001.mp3")) QCOMPARE(::mkfifo("piece-004.mp3", 0644), 0);
    };
    const split::Outcome out = split(QStringLiteral("time"), media(QStringLiteral("vbr-xing.mp3")),
                                     QStringLiteral("1.3"), r);
    QVERIFY(!out.completed);
    QCOMPARE(out.pieces.size(), 3);
    QCOMPARE(r.failures,
             QStringList{QStringLiteral("Cannot write the file: piece-004.mp3 !\r\nIt is a FIFO, not a regular file.")});
    QCOMPARE(r.leftWhenTold, QStringList());
    struct stat st {};
    QVERIFY(::stat("piece-004.mp3", &st) == 0 && S_ISFIFO(st.st_mode));
  }

  // A stream found late in the walk to be what exact cuts do not take (a
  // free format frame) is refused, naming the place, and the pieces written
  // ahead of it go before the user hears why.
  void aStreamRefusedLateLeavesNothing() {
    freshFolder();
    const QByteArray one = readAll(media(QStringLiteral("cbr-noinfo.mp3")));
    QByteArray bytes = one.repeated(30) + QByteArray("\xFF\xFB\x00\x64", 4) + QByteArray(400, 'x') + one.repeated(10);
    writeFile(QStringLiteral("late.mp3"), bytes);
    Recorder r;
    const split::Outcome out = split(QStringLiteral("time"), QStringLiteral("late.mp3"), QStringLiteral("5"), r);
    QVERIFY(!out.completed);
    QCOMPARE(r.failures.size(), 1);
    const QString at = QLocale(QLocale::English).toString(one.size() * 30);
    QVERIFY2(r.failures[0].contains(QStringLiteral("frame 11,520 at byte %1: free format").arg(at)),
             qPrintable(r.failures[0]));
    QCOMPARE(r.leftWhenTold, QStringList());
    QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("late.mp3")});
  }

  // Untrusted bytes: damaged copies of real streams never crash the exact
  // cuts or the join, and whatever is cut joins again into as many frames.
  void damagedStreamsAreHandled() {
    const QString folder = freshFolder();
    QRandomGenerator rng(20261207);
    for (const char *name : {"vbr-xing.mp3", "big-id3.mp3", "mpeg2-vbr.mp3", "layer2.mp2", "id3v1.mp3"}) {
      const QByteArray original = readAll(media(QString::fromLatin1(name)));
      for (int round = 0; round < 25; ++round) {
        QByteArray bytes = original;
        for (int i = 1 + rng.bounded(6); i > 0; --i) {
          const int at = rng.bounded(2) ? rng.bounded(std::min<int>(bytes.size(), 4096)) : rng.bounded(bytes.size());
          bytes[at] = static_cast<char>(rng.bounded(256));
        }
        if (rng.bounded(3) == 0) bytes.truncate(rng.bounded(bytes.size()));
        writeFile(QStringLiteral("damaged.mp3"), bytes);
        const Decoded whole = decode(QStringLiteral("damaged.mp3"));
        Recorder r;
        const split::Outcome out =
            round % 2 ? split::splitByTime(QStringLiteral("damaged.mp3"), QStringLiteral("0.7"), 0,
                                           QStringLiteral("d-%track%.mp3"), r, true)
                      : split::splitBySize(QStringLiteral("damaged.mp3"), QString::number(4 + rng.bounded(40)),
                                           QStringLiteral("d-%track%.mp3"), r, true);
        if (out.completed && !out.pieces.isEmpty()) {
          const auto refused = split::joinPieces(out.pieces, QStringLiteral("joined.mp3"));
          if (refused) QFAIL(qPrintable(QStringLiteral("%1 round %2: %3").arg(name).arg(round).arg(refused->text)));
          QCOMPARE(decode(QStringLiteral("joined.mp3")).frames.size(), whole.frames.size());
        }
        for (const QString &file : QDir(folder).entryList(QDir::Files | QDir::Hidden)) QFile::remove(file);
      }
    }
  }

  // Files as users have them: what libmpg123 passes over goes into no piece
  // and is told with its place; the pieces play as the source, but for the
  // frames next to damage, where decoders do not agree with themselves.
  void realWorldFilesAreCutExactly_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("says");
    QTest::addColumn<int>("damagedAt");  // the source's decoded bytes up to the damage, or -1
    const QByteArray src = readAll(media(QStringLiteral("cbr-info.mp3")));
    const QByteArray v1 = "TAG" + QByteArray("Title").leftJustified(30, '\0') + QByteArray(60, 'a') + "1999" +
                          QByteArray(31, 'c');  // ID3v1.0: the comment runs through the track's place
    const QByteArray body = QByteArray("TIT2\0\0\0\x05\0\0\x03Song", 15);
    const QByteArray v2 = QByteArray("ID3\x04\0\x10\0\0\0\x0F", 10) + body + QByteArray("3DI\x04\0\x10\0\0\0\x0F", 10);
    QByteArray ape("APETAGEX\xD0\x07\0\0\x33\0\0\0\x01\0\0\0\0\0\0\0", 24);
    ape = ape + QByteArray(8, '\0');
    ape = QByteArray("\x04\0\0\0\0\0\0\0Title\0Song", 19) + ape;
    const QByteArray lyrics = "LYRICSBEGININD00003110";
    const QByteArray l3 = lyrics + QByteArray::number(lyrics.size()).rightJustified(6, '0') + "LYRICS200";
    // Frame 100 of the 384 begins at byte 42,212 (the Info frame is 417 bytes, frames 418 or 417).
    const int frame100 = 42212;
    QByteArray junk(700, '\x55');
    QByteArray damaged = src;
    damaged[62692 + 2] = static_cast<char>((damaged[62692 + 2] & 0x0F) | 0xB0);  // frame 149 claims 192 kbit/s
    QTest::newRow("cut short under its Info frame") << src.left(src.size() / 2 + 100) << "cut short" << -1;
    QTest::newRow("ID3v2 with footer and ID3v1.0 at the end") << src + v2 + v1 << "" << -1;
    QTest::newRow("ID3v1 before an ID3v2 at the end") << src + v1 + v2 << "" << -1;
    // Its footer well formed, its header's size not synchsafe (0x8F): no tag
    // to carry, but bytes passed over, which every decoder and the join of
    // the pieces can read.
    QTest::newRow("an ID3v2 tag at the end whose header's size is not synchsafe")
        << src + QByteArray("ID3\x04\0\x10\0\0\0\x8F", 10) + body + QByteArray("3DI\x04\0\x10\0\0\0\x0F", 10)
        << "junk (35 bytes) at byte 160,913" << -1;
    QTest::newRow("APE and Lyrics3 at the end") << src + ape + l3 + v1 << "a Lyrics3 tag (37 bytes)" << -1;
    QTest::newRow("zeros at the end") << src + QByteArray(300000, '\0') << "zero bytes (300,000 bytes) at byte 160,913"
                                      << -1;
    QTest::newRow("junk between frames") << src.left(frame100) + junk + src.mid(frame100)
                                         << "junk (700 bytes) at byte 42,212" << 4608 * 98;
    QTest::newRow("a damaged frame") << damaged << "junk" << 4608 * 148;
    // Frames that libmpg123 plays with the reserved emphasis, and a stream
    // cut out of another, whose first frame reaches back for bits it has not.
    QByteArray plain = readAll(media(QStringLiteral("cbr-noinfo.mp3")));
    QList<qsizetype> starts;
    for (qsizetype at = 0; at + 4 <= plain.size(); at += 417 + ((plain[at + 2] >> 1) & 1)) starts << at;
    for (qsizetype at : starts) plain[at + 3] = static_cast<char>((plain[at + 3] & 0xFC) | 2);
    QTest::newRow("the reserved emphasis") << plain << "" << -1;
    QTest::newRow("a stream cut out of another")
        << readAll(media(QStringLiteral("cbr-noinfo.mp3"))).mid(starts[100], starts[300] - starts[100]) << "" << -1;
    // The first file's Info frame counts its own frames: libmpg123 trims
    // their end and plays the second file, its Info frame as silence, untrimmed.
    QTest::newRow("two files of one format") << src + src << "" << -1;
    // An Info frame that counts 2 frames, their samples all delay and
    // padding (1,000 and 1,500): what plays begins after them, and so do
    // the pieces, which hold the source's frames from frame 1 on.
    QByteArray nothingFirst = src;
    nothingFirst.replace(44, 4, QByteArray("\0\0\0\x02", 4));
    nothingFirst.replace(177, 3, QByteArray("\x3e\x85\xdc", 3));
    QTest::newRow("an Info frame whose frames play nothing") << nothingFirst << "" << -1;
    QTest::newRow("two files of two formats") << src + readAll(media(QStringLiteral("mpeg2-mono.mp3")))
                                              << "changes at frame 384 (byte 160,913) to MPEG-2 Layer III, 22,050 Hz mono"
                                              << 1764000;
    // The same with the new format's first header in the last 50 bytes of
    // the walk's first read (half a megabyte), and more than that after it:
    // the header is confirmed by reading on, which moves the bytes read.
    const QByteArray noInfo = readAll(media(QStringLiteral("cbr-noinfo.mp3")));
    const QByteArray four = noInfo + noInfo + noInfo + noInfo;
    qsizetype end = 0;  // the frames of `four` that end 72 bytes or more before 512 KB
    int frames = 0;
    for (qsizetype next = 0; next + 4 <= four.size() && next <= 524288 - 72; next += 417 + ((four[next + 2] >> 1) & 1))
      end = next, ++frames;
    --frames;
    // A tag in front (a TIT2 frame and its text) puts the change at 524,238.
    const qsizetype tagSize = 524288 - 50 - end, text = tagSize - 21;
    QByteArray tag("ID3\x03\0\0\0\0", 8);
    tag += static_cast<char>((tagSize - 10) >> 7);
    tag += static_cast<char>((tagSize - 10) & 0x7F);
    tag += QByteArray("TIT2\0\0", 6) + static_cast<char>((text + 1) >> 8) + static_cast<char>((text + 1) & 0xFF) +
           QByteArray("\0\0\0", 3) + QByteArray(text, 'x');
    const QByteArray mono = readAll(media(QStringLiteral("mpeg2-mono.mp3")));
    QByteArray monos;
    for (int i = 0; i < 20; ++i) monos += mono;
    QTest::newRow("two formats, the change where the walk reads on") << tag + four.left(end) + monos
                                                                     << "to MPEG-2 Layer III, 22,050 Hz mono"
                                                                     << frames * 4608;
  }
  void realWorldFilesAreCutExactly() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, says);
    QFETCH(int, damagedAt);
    freshFolder();
    writeFile(QStringLiteral("source.mp3"), bytes);
    const Decoded whole = decode(QStringLiteral("source.mp3"));
    Recorder r;
    const split::Outcome out = split(QStringLiteral("time"), QStringLiteral("source.mp3"), QStringLiteral("2"), r);
    QVERIFY2(out.completed && out.pieces.size() >= 3, qPrintable(r.failures.join(u'\n')));
    QVERIFY2(says.isEmpty() ? r.notices.isEmpty() : r.notices.join(u' ').contains(says), qPrintable(r.notices.join(u'\n')));
    QByteArray together;
    for (const QString &piece : out.pieces) together += decode(piece).pcm;
    if (damagedAt < 0) {
      QVERIFY2(together == whole.pcm, qPrintable(firstDifference(together, whole.pcm)));
    } else {
      // Right up to the damage, and in the last second.
      QVERIFY2(together.left(damagedAt) == whole.pcm.left(damagedAt), qPrintable(firstDifference(together, whole.pcm)));
      QVERIFY(withinOneStep(together.right(88200), whole.pcm.right(88200)));
    }
    // The join gives back the frames, and the tags as they were.
    QCOMPARE(split::joinPieces(out.pieces, QStringLiteral("joined.mp3")), std::nullopt);
    const QByteArray joined = readAll(QStringLiteral("joined.mp3"));
    if (bytes.right(128).startsWith("TAG")) QCOMPARE(joined.right(128), bytes.right(128));
  }

  // A piece's TRCK and TLEN are rewritten whole in the source's encoding
  // and place (readers take a NUL in version 2.4 for a second value), in
  // each of the four encodings and both versions; its TLEN where it takes
  // no more digits than the source's (four here: 3,004 ms and so on). A
  // title goes in as Latin-1 where it can, else UTF-16 with its BOM (2.3)
  // or UTF-8 (2.4). The join puts the source's frames back byte for byte.
  void tagsKeepTheirEncoding_data() {
    QTest::addColumn<QByteArray>("tag");
    QTest::addColumn<int>("encoding");      // of its TRCK and TLEN
    QTest::addColumn<QByteArray>("title");  // piece 1's TIT2, titled "Ω1"
    const auto frame = [](const char *id, const QByteArray &body) {
      QByteArray f(id);
      for (int shift : {21, 14, 7, 0}) f.append(static_cast<char>((body.size() >> shift) & 0x7F));
      return f + QByteArray(2, '\0') + body;
    };
    const auto tag = [](int version, const QByteArray &frames, int padding) {
      QByteArray t("ID3", 3);
      t += static_cast<char>(version);
      t += QByteArray(2, '\0');
      const int size = static_cast<int>(frames.size()) + padding;
      for (int shift : {21, 14, 7, 0}) t.append(static_cast<char>((size >> shift) & 0x7F));
      return t + frames + QByteArray(padding, '\0');
    };
    const char *names[] = {"Latin-1", "UTF-16", "UTF-16BE", "UTF-8"};
    for (int version : {3, 4}) {
      const QByteArray title = version == 3 ? QByteArray("\x01\xFF\xFE\xA9\x03" "1\0", 7) : QByteArray("\x03\xCE\xA9" "1");
      for (int e = 0; e < 4; ++e) {
        QTest::addRow("%s in version 2.%d", names[e], version)
            << tag(version,
                   frame("TRCK", textBody(e, "3/12", e == 1)) + frame("TLEN", textBody(e, "10000", e == 1)) +
                       frame("TIT2", textBody(e, "Song", e == 1)),
                   version == 3 ? 50 : 0)
            << e << title;
      }
      // Chapters of the whole recording stay out of the pieces.
      const QByteArray times("\0\0\0\0\0\0\x03\xE8\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 16);
      QTest::addRow("chapters in version 2.%d", version)
          << tag(version,
                 frame("TRCK", textBody(0, "3")) + frame("CTOC", QByteArray("toc\0\x03\x02" "c1\0" "c2\0", 12)) +
                     frame("CHAP", QByteArray("c1\0", 3) + times + frame("TIT2", textBody(0, "One"))) +
                     frame("TLEN", textBody(0, "10000")) + frame("CHAP", QByteArray("c2\0", 3) + times) +
                     frame("TIT2", textBody(0, "Song")),
                 version == 3 ? 20 : 0)
          << 0 << title;
      QTest::addRow("a TLEN of four digits in version 2.%d", version)
          << tag(version, frame("TLEN", textBody(3, "9999")) + frame("TRCK", textBody(3, "3")) + frame("TIT2", textBody(3, "Song")), 0)
          << 3 << title;
    }
  }
  void tagsKeepTheirEncoding() {
    QFETCH(QByteArray, tag);
    QFETCH(int, encoding);
    QFETCH(QByteArray, title);
    freshFolder();
    const QByteArray source = tag + readAll(media(QStringLiteral("cbr-info.mp3")));
    writeFile(QStringLiteral("tagged.mp3"), source);
    Recorder r;
    const std::vector<split::PieceTitle> titles{{QStringLiteral("Ω1"), {}}, {QStringLiteral("Ω2"), {}},
                                                {QStringLiteral("Ω3"), {}}, {QStringLiteral("Ω4"), {}}};
    const split::Outcome out = split::splitAtBreakpoints(QStringLiteral("tagged.mp3"), 0, {"0", "115", "230", "345", "999"},
                                                         QStringLiteral("piece-%track%.mp3"), r, true, titles);
    QVERIFY2(out.completed && out.pieces.size() == 4, qPrintable(r.failures.join(u'\n')));
    for (qsizetype k = 0; k < out.pieces.size(); ++k) {
      const QByteArray bytes = readAll(out.pieces[k]);
      const mpeg::Bytes head(bytes.begin(), bytes.begin() + mpeg::id3v2Size(reinterpret_cast<const unsigned char *>(bytes.data())));
      const auto body = [&head](const char *id) {
        const mpeg::Bytes b = mpeg::frameBody(head, id);
        return QByteArray(reinterpret_cast<const char *>(b.data()), static_cast<qsizetype>(b.size()));
      };
      const Decoded piece = decode(out.pieces[k]);
      const QByteArray own = QByteArray::number(qRound64(static_cast<double>(piece.length) * 1000 / piece.rate));
      QCOMPARE(own.size(), 4);
      // Nothing after the text: no NUL, which would begin a second value.
      QCOMPARE(body("TRCK"), textBody(encoding, QByteArray::number(k + 1) + "/4"));
      QCOMPARE(body("TLEN"), textBody(encoding, own));
      QByteArray expected = title;
      expected[expected.size() - (title[0] == 1 ? 2 : 1)] = static_cast<char>('1' + k);
      QCOMPARE(body("TIT2"), expected);
      QVERIFY(body("CHAP").isEmpty() && body("CTOC").isEmpty());
      // The frames keep their order.
      QVERIFY(bytes.indexOf("TRCK") < bytes.indexOf("TIT2") && bytes.indexOf("TLEN") < bytes.indexOf("TIT2"));
    }
    QCOMPARE(split::joinPieces(out.pieces, QStringLiteral("joined.mp3")), std::nullopt);
    QCOMPARE(readAll(QStringLiteral("joined.mp3")).left(tag.size()), tag);
  }

  // A tag at the start and one at the end: the pieces carry the first, its
  // fields that the later one has too as the later one has them.
  void theNewerTagWins() {
    freshFolder();
    const auto frame = [](const char *id, const QByteArray &body) {
      return QByteArray(id) + QByteArray(3, '\0') + char(body.size()) + QByteArray(2, '\0') + body;
    };
    const auto tag = [](int version, const QByteArray &frames, bool footer) {
      const QByteArray size = QByteArray(3, '\0') + char(frames.size());
      const QByteArray flags(1, footer ? '\x10' : '\0');
      return "ID3" + QByteArray(1, char(version)) + QByteArray(1, '\0') + flags + size + frames +
             (footer ? "3DI" + QByteArray(1, char(version)) + QByteArray(1, '\0') + flags + size : QByteArray());
    };
    const QByteArray start =
        tag(3, frame("TIT2", QByteArray("\0Old", 4)) + frame("TALB", QByteArray("\0Album", 6)) +
                   frame("TCOM", QByteArray("\0Writer", 7)), false);
    const QByteArray end = tag(4, frame("TIT2", QByteArray("\x03New", 4)) + frame("TPE1", QByteArray("\0Someone", 8)) +
                                      frame("TCOM", QByteArray("\x03R\xC3\xA9", 4)), true);
    writeFile(QStringLiteral("tagged.mp3"), start + readAll(media(QStringLiteral("cbr-info.mp3"))) + end);
    Recorder r;
    const split::Outcome out = split(QStringLiteral("time"), QStringLiteral("tagged.mp3"), QStringLiteral("4"), r);
    QVERIFY2(out.completed, qPrintable(r.failures.join(u'\n')));
    const QByteArray piece = readAll(out.pieces[0]);
    const mpeg::Bytes head(piece.begin(), piece.begin() + mpeg::id3v2Size(reinterpret_cast<const unsigned char *>(piece.data())));
    QCOMPARE(mpeg::bodyText(mpeg::frameBody(head, "TALB")), std::string("Album"));
    QCOMPARE(mpeg::bodyText(mpeg::frameBody(head, "TPE1")), std::string("Someone"));
    // UTF-8 in a version 2.3 tag: as Latin-1 where it is ASCII, else left out.
    QCOMPARE(mpeg::frameBody(head, "TIT2"), (mpeg::Bytes{0, 'N', 'e', 'w'}));
    QCOMPARE(mpeg::bodyText(mpeg::frameBody(head, "TCOM")), std::string("Writer"));
    QVERIFY(piece.indexOf("TIT2") < piece.indexOf("TALB") && piece.indexOf("TALB") < piece.indexOf("TPE1"));
  }

  // What exact cuts cannot take is refused before a piece is written.
  void refusals_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("kilobytes");
    QTest::addColumn<QString>("says");
    QTest::newRow("free format") << "free-format.mp3"
                                 << "20"
                                 << "free format";
    QTest::newRow("text") << "text.mp3"
                          << "20"
                          << "no MPEG audio frame";
    QTest::newRow("a second Info frame taken for audio") << "two-info.mp3"
                                                         << "20"
                                                         << "a second Info frame";
    QTest::newRow("Layer II under a tag that cannot take the record") << "layer2-id3v22.mp2"
                                                                      << "200"
                                                                      << "cannot edit";
    QTest::newRow("pieces too small for a frame") << "cbr-info.mp3"
                                                  << "1"
                                                  << "cannot hold a frame";
    QTest::newRow("pieces too small for the tag") << "big-id3.mp3"
                                                  << "100"
                                                  << "cannot hold a frame";
  }
  void refusals() {
    QFETCH(QString, file);
    QFETCH(QString, kilobytes);
    QFETCH(QString, says);
    freshFolder();
    Recorder r;
    const split::Outcome out = split::splitBySize(media(file), kilobytes, QStringLiteral("p-%track%.mp3"), r, true);
    QVERIFY(!out.completed);
    QCOMPARE(r.failures.size(), 1);
    QVERIFY2(r.failures[0].contains(says), qPrintable(r.failures[0]));
    QVERIFY(QDir().entryList(QDir::Files | QDir::Hidden).isEmpty());
    // Where pieces are too small, the least size that can is told, and holds.
    const QRegularExpressionMatch least =
        QRegularExpression(QStringLiteral("the least that can is (\\d+) KB")).match(r.failures[0]);
    if (says == u"cannot hold a frame") {
      QVERIFY2(least.hasMatch(), qPrintable(r.failures[0]));
      const QString kb = least.captured(1);
      Recorder below, at;
      QVERIFY(!split::splitBySize(media(file), QString::number(kb.toInt() - 1), QStringLiteral("b-%track%.mp3"), below,
                                  true)
                   .completed);
      QVERIFY2(split::splitBySize(media(file), kb, QStringLiteral("a-%track%.mp3"), at, true).completed,
               qPrintable(at.failures.join(u'|')));
    }
  }
};

QTEST_GUILESS_MAIN(TestExact)
#include "tst_exact.moc"
