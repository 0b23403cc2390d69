#pragma once

// One split as the user asked for it: a plain value that the split workers
// are given, made from the wizard's state when Next is pressed.

#include <cstdint>
#include <vector>

#include <QString>
#include <QStringList>

#include "SplitEngine.h"

struct SplitRequest {
  int method = 0;  // 1 (selections), 2 (time) or 3 (size)
  QString source;
  std::int32_t frames = 0;       // the frame count, method 1
  std::int32_t totalTimeMs = 0;  // the playing time, method 2
  QString parameter;             // seconds (method 2) or kilobytes (method 3)
  QString outputTemplate;
  bool exact = false;  // "Exact cuts"
  bool join = false;   // "Create Join Batch File", methods 2 and 3
  QString joinName;
  QStringList breakpoints;                // method 1
  std::vector<split::PieceTitle> titles;  // piece k: titles[k - 1], method 1
};
