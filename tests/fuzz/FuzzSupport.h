#pragma once

// What the fuzz targets share: a reporter that keeps quiet, and a folder of
// their own for the source they write and the pieces cut from it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include <QString>

#include "SplitEngine.h"

struct Quiet : split::Reporter {
  void start(std::int64_t) override {}
  void step() override {}
  void complete() override {}
  void pieceWritten(const QString &) override {}
  void fail(const split::Message &) override {}
  void notice(const split::Message &) override {}
};

// A folder made once, in memory where there is /dev/shm, named after
// `name`; it and the source in it go when the process exits.
inline const std::string &workFolder(const char *name) {
  static const std::string folder = [name] {
    std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string tmpl = base + "/fuzz-" + name + ".XXXXXX";
    if (!::mkdtemp(tmpl.data())) std::abort();
    return tmpl;
  }();
  // Registered once the name exists, so it is gone only after this has run.
  static const bool removed = std::atexit([] {
                                ::unlink((folder + "/source.mp3").c_str());
                                ::rmdir(folder.c_str());
                              }) == 0;
  (void)removed;
  return folder;
}
