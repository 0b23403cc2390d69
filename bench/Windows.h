#pragma once

#include "AboutWindow.h"
#include "MainWindow.h"
#include "OffsetDialog.h"
#include "ProgressWindow.h"

// The program's windows, made and shown as its main() makes them, for the
// benchmarks that time what a user meets on a page.
inline void createWindows() {
  Form1 = new TForm1;
  Form3 = new TForm3(Form1);
  Form7 = new TForm7(Form1);
  frmAdjust = new TfrmAdjust(Form1);
  Form1->show();
}

inline void destroyWindows() {
  delete frmAdjust;
  delete Form7;
  delete Form3;
  delete Form1;
  Form1 = nullptr;
}
