#pragma once

// Sound servers that a test can make misbehave: a PulseAudio server of the
// test's own, with a null sink, that can be killed and started again on the
// same socket; and a socket that takes connections and never answers. Both
// live in a temporary folder, so a user's own sound server is never touched.

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

class PrivateSoundServer {
 public:
  static constexpr const char *kSink = "private";

  PrivateSoundServer() {
    QDir(dir_.path()).mkpath(QStringLiteral("runtime"));
    QDir(dir_.path()).mkpath(QStringLiteral("home"));
    QFile::setPermissions(dir_.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  ~PrivateSoundServer() { stop(SIGTERM); }
  PrivateSoundServer(const PrivateSoundServer &) = delete;
  PrivateSoundServer &operator=(const PrivateSoundServer &) = delete;

  static bool available() { return !QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty(); }
  QByteArray address() const { return "unix:" + QFile::encodeName(dir_.filePath(QStringLiteral("pulse.sock"))); }

  // Starts the server and waits until it answers.
  bool start() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir_.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("home/.config")));
    env.remove(QStringLiteral("PULSE_SERVER"));
    server_.setProcessEnvironment(env);
    server_.setStandardOutputFile(QProcess::nullDevice());
    server_.setStandardErrorFile(QProcess::nullDevice());
    server_.start(QStringLiteral("pulseaudio"),
                  {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                   QStringLiteral("--use-pid-file=no"),
                   QStringLiteral("--load=module-null-sink sink_name=%1 rate=44100").arg(QLatin1String(kSink)),
                   QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=%1")
                       .arg(dir_.filePath(QStringLiteral("pulse.sock"))),
                   QStringLiteral("--log-target=file:%1").arg(dir_.filePath(QStringLiteral("pulse.log")))});
    if (!server_.waitForStarted()) return false;
    for (int i = 0; i < 100; ++i) {
      QProcess info;
      QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
      e.insert(QStringLiteral("PULSE_SERVER"), QString::fromLocal8Bit(address()));
      info.setProcessEnvironment(e);
      info.start(QStringLiteral("pactl"), {QStringLiteral("info")});
      if (info.waitForFinished() && info.exitStatus() == QProcess::NormalExit && info.exitCode() == 0) return true;
      QThread::msleep(50);
    }
    return false;
  }

  // SIGKILL is a server that crashed; SIGTERM one that was shut down.
  void stop(int signal) {
    if (server_.state() == QProcess::NotRunning) return;
    ::kill(static_cast<pid_t>(server_.processId()), signal);
    server_.waitForFinished(5000);
  }

 private:
  QTemporaryDir dir_;
  QProcess server_;
};

// A Unix socket that the kernel accepts connections on (they wait in its
// queue), and that never reads or writes a byte.
class SilentSocket {
 public:
  SilentSocket() {
    path_ = dir_.filePath(QStringLiteral("silent.sock"));
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path_);
    if (fd_ < 0 || name.size() >= static_cast<qsizetype>(sizeof addr.sun_path)) return;
    std::memcpy(addr.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
    if (::bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(fd_, 16) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~SilentSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  SilentSocket(const SilentSocket &) = delete;
  SilentSocket &operator=(const SilentSocket &) = delete;

  bool listening() const { return fd_ >= 0; }
  QByteArray address() const { return "unix:" + QFile::encodeName(path_); }

 private:
  QTemporaryDir dir_;
  QString path_;
  int fd_ = -1;
};

// Sets an environment variable for a scope, and puts back what was there.
class ScopedEnv {
 public:
  ScopedEnv(const char *name, const QByteArray &value) : name_(name), had_(qEnvironmentVariableIsSet(name)) {
    old_ = qgetenv(name);
    if (value.isNull())
      qunsetenv(name);
    else
      qputenv(name, value);
  }
  ~ScopedEnv() {
    if (had_)
      qputenv(name_, old_);
    else
      qunsetenv(name_);
  }
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;

 private:
  const char *name_;
  bool had_;
  QByteArray old_;
};
