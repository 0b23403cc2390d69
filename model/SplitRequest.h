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
  QString parameter;             // seconds or "/N" parts (method 2), kilobytes (method 3)
  QString outputTemplate;
  bool exact = false;  // "Exact cuts"
  bool join = false;   // "Create Join Batch File", methods 2 and 3
  QString joinName;
  bool atPauses = false;  // method 2: each part ends at the nearest pause
  QString pauseReach;     // how far a cut may move to one, in seconds
  QStringList breakpoints;                // method 1
  std::vector<split::PieceTitle> titles;  // piece k: titles[k - 1], method 1
};
