#pragma once

// The preview player (TXaudioPlayer) of the breakpoint page: libmpg123
// decoding on a thread of its own into the sound output.

#include <cstdint>
#include <memory>
#include <stdexcept>

#include <QObject>
#include <QString>

class QThread;

namespace audio {
class ManualClock;
class PlayerEngine;
struct StreamFacts;
}  // namespace audio

// Raised when the player cannot start.
class EXaudioException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The preview player: commands from the main thread, decoding on a thread of
// its own, notifications delivered back on the main thread.
//
// Every command first starts the player if it is not running yet (Init) and
// raises EXaudioException when it cannot. TRANCHETTE_AUDIO_OUTPUT=off stands
// for a machine on which the player cannot start at all.
//
// Commands are queued to the player's thread, in order, and return at once:
// the window never waits for the player, so a sound server that is slow to
// answer, or never does, holds up nothing but the sound. They never run an
// event loop either, so no handler of the window is entered from inside
// another. A notification describes the place as it was after the latest
// command: one sent before a later Play, Pause, Stop or InputSeek is dropped.
//
// When the sound server goes away, the place heard last holds (the position
// notifications stand still) until a server answers again, by itself or when
// Play is pressed, and playing goes on from there. With no server from the
// start, a silent output paced by a clock plays instead.
class TXaudioPlayer : public QObject {
  Q_OBJECT

 public:
  explicit TXaudioPlayer(QObject *parent = nullptr);
  ~TXaudioPlayer() override;

  // `facts` from the header walk spare the player a scan of the whole file:
  // it seeks with their frame index. With `indexToCome`, `facts` are a guess
  // (no index): the player plays from the start at once, and a seek beyond
  // what it has read waits, its place shown, until InputFacts brings them.
  void InputOpen(const QString &path, std::shared_ptr<const audio::StreamFacts> facts = {}, bool indexToCome = false);
  // The facts of the file opened on a guess; nothing when they could not be
  // read, and the player then seeks without an index.
  void InputFacts(std::shared_ptr<const audio::StreamFacts> facts);
  void InputClose();
  // Positions count `range` steps over the stream from now on.
  void SetInputPositionRange(std::int32_t range);
  void Play();
  void Pause();
  void Stop();
  // Goes to frame offset * frames / range; an offset beyond the range goes to
  // the end, and one that was negative before it became unsigned to the start.
  void InputSeek(std::uint32_t offset, std::int32_t range);

  bool isStarted() const { return engine_ != nullptr; }
  // The latest soundProblemChanged text.
  QString soundProblem() const { return soundProblem_; }

 signals:
  // The frame being heard, counted out of the position range.
  void OnNotifyInputPosition(QObject *Sender, std::uint32_t Offset, std::uint32_t Range);
  // The time being heard; Fractions in hundredths of a second.
  void OnNotifyInputTimecode(QObject *Sender, std::uint8_t Hours, std::uint8_t Minutes, std::uint8_t Seconds,
                             std::uint8_t Fractions);
  // Why nothing is heard, in words for the user (no server, a server that
  // does not answer, one that went away, a seek waiting for the file to be
  // read up to its frame); empty once sound is heard again. Sent when it
  // changes.
  void soundProblemChanged(const QString &text);

 private:
  friend class audio::ManualClock;

  void Init();
  // Moves the shared manual clock on by `ns` on the player's thread, after
  // the commands sent so far, plays on, and delivers what the player reports
  // before returning.
  void passTime(std::int64_t ns);
  template <typename F>
  void send(F &&command);
  // A command that moves the place: notifications from before it are stale.
  template <typename F>
  void relocate(F &&command);

  QThread *thread_ = nullptr;
  audio::PlayerEngine *engine_ = nullptr;
  std::uint64_t epoch_ = 0;
  QString soundProblem_;
};
