// Reviewing breakpoints in the window: by key and menu, with undo, titles,
// a tunable search, and the questions asked before work is lost.
#include <QInputDialog>
#include <QListWidget>
#include <QSpinBox>
#include <QtTest>

#include "AppFixture.h"
#include "FlatCheck.h"
#include "SilenceDialog.h"
#include "TestSupport.h"

class TestReview : public QObject {
  Q_OBJECT

  QTemporaryDir settingsDir_;
  FakePlatform *fake_ = nullptr;

  static QStringList items() {
    QStringList list;
    for (int i = 0; i < Form1->ListBox->count(); ++i) list << Form1->ListBox->item(i)->text();
    return list;
  }
  static QString selected() {
    const int i = Form1->GetSelectedIndex();
    return i < Form1->ListBox->count() ? Form1->ListBox->item(i)->text() : QString();
  }
  static void press(QKeySequence key) {
    QTest::keyClick(QApplication::focusWidget(), key[0].key(), key[0].keyboardModifiers());
  }
  void enterPage(const QString &file = QStringLiteral("cbr-info.mp3")) {
    Form1->Edit1->setText(media(file));
    click(Form1->RadioButton1);
    click(Form1->butNext);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet3);
  }
  void withBreakpoints(const QStringList &frames) {
    for (const QString &f : frames) Form1->InsertBreakpoint(f);
  }

 private slots:
  void initTestCase() {
    isolateSettings(settingsDir_);
    QApplication::setApplicationName(QStringLiteral("Tranchette"));
  }
  void init() {
    fake_ = startProgram();
    QVERIFY(QTest::qWaitForWindowActive(Form1));
    enterPage();
  }
  void cleanup() { stopProgram(); }

  // "Listen, Delete or go on": Delete selects the breakpoint that took the
  // deleted one's place, so that no candidate is passed over.
  void deleteThenTheNextCandidate() {
    withBreakpoints({"10", "20", "30", "40"});
    Form1->ListBox->setFocus();
    Form1->ListBox->setCurrentRow(1);  // 10
    press(Qt::Key_Delete);
    QCOMPARE(selected(), QStringLiteral("20"));
    press(Qt::Key_Delete);
    QCOMPARE(selected(), QStringLiteral("30"));
    press(Qt::Key_Down);
    QCOMPARE(selected(), QStringLiteral("40"));
    QCOMPARE(items(), (QStringList{"0", "30", "40"}));
  }

  // Ctrl+Right and Ctrl+Left (and ] and [) go from the frame shown to the
  // next and previous breakpoint, select it and play from 2 s before it.
  void nextAndPreviousFromTheFrameShown() {
    withBreakpoints({"100", "200", "300"});
    Form1->TrackPosition = false;  // the player's reports leave the frame shown alone
    Form1->labFrame->setText(QStringLiteral("150"));
    Form1->butNext->setFocus();
    press(QKeySequence(Qt::CTRL | Qt::Key_Right));
    QCOMPARE(selected(), QStringLiteral("200"));
    QCOMPARE(Form1->labFrame->text(), QStringLiteral("200"));
    press(Qt::Key_BracketRight);
    QCOMPARE(selected(), QStringLiteral("300"));
    press(QKeySequence(Qt::CTRL | Qt::Key_Left));
    QCOMPARE(selected(), QStringLiteral("200"));
    press(Qt::Key_BracketLeft);
    press(Qt::Key_BracketLeft);
    QCOMPARE(selected(), QStringLiteral("0"));
    press(Qt::Key_BracketLeft);  // none before the first: it stays
    QCOMPARE(selected(), QStringLiteral("0"));

    // While it plays around a breakpoint, the frame shown runs from 2 s
    // before it to 2 s after: the next and the previous are still those of
    // the breakpoint heard.
    press(Qt::Key_BracketRight);
    QCOMPARE(selected(), QStringLiteral("100"));
    Form1->labFrame->setText(QStringLiteral("60"));  // in the lead-in
    press(Qt::Key_BracketRight);
    QCOMPARE(selected(), QStringLiteral("200"));
    Form1->labFrame->setText(QStringLiteral("230"));  // past it
    press(Qt::Key_BracketLeft);
    QCOMPARE(selected(), QStringLiteral("100"));
  }

  // A line chosen in the list moves the frame shown there; the menu's first
  // entry plays around it.
  void theListMovesTheFrameShown() {
    withBreakpoints({"100", "250"});
    Form1->TrackPosition = false;
    Form1->ListBox->setFocus();
    Form1->ListBox->setCurrentRow(0);
    press(Qt::Key_Down);
    QCOMPARE(Form1->labFrame->text(), QStringLiteral("100"));
    QCOMPARE(Form1->Slider->value(), 100);
    press(Qt::Key_End);  // in the list, while it has the focus
    QCOMPARE(selected(), QStringLiteral("250"));
    QCOMPARE(Form1->RightPopupMenu->actions().first()->text(), QStringLiteral("Play Around"));
  }

  // Ctrl+Z takes back a Delete, a "Delete all" and an import, in turn.
  void undoTakesBack() {
    withBreakpoints({"100", "200"});
    Form1->ListBox->setFocus();
    Form1->ListBox->setCurrentRow(1);
    press(Qt::Key_Delete);
    QCOMPARE(items(), (QStringList{"0", "200"}));
    Form1->Deleteallbreakpoints1Click(nullptr);
    QVERIFY(items().isEmpty());
    press(QKeySequence(Qt::CTRL | Qt::Key_Z));
    QCOMPARE(items(), (QStringList{"0", "200"}));
    press(QKeySequence(Qt::CTRL | Qt::Key_Z));
    QCOMPARE(items(), (QStringList{"0", "100", "200"}));
  }

  // "Title..." (F2) names the piece that begins at the selected breakpoint;
  // the title goes into the split's request.
  void titlesForEveryPiece() {
    withBreakpoints({"100"});
    Form1->ListBox->setFocus();
    Form1->ListBox->setCurrentRow(1);
    fake_->dialogAnswer = [](QDialog *d) {
      static_cast<QInputDialog *>(d)->setTextValue(QStringLiteral("  Second part "));
      return true;
    };
    press(Qt::Key_F2);
    QCOMPARE(fake_->dialogs, QStringList{QStringLiteral("Title")});
    QCOMPARE(Form1->model().request(1).titles.at(1).title, QStringLiteral("Second part"));
    QVERIFY(Form1->ListBox->item(1)->toolTip().endsWith(QStringLiteral("Second part")));
  }

  // Back and Exit ask before breakpoints that no split used go.
  void workIsNotLostWithoutAsking() {
    withBreakpoints({"100"});
    fake_->dialogAnswer = [](QDialog *) { return false; };  // keep them
    click(Form1->butBack);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet3);
    QCOMPARE(fake_->dialogs, QStringList{QStringLiteral("Discard")});
    click(Form1->butExit);
    QVERIFY(Form1->isVisible());
    QCOMPARE(items(), (QStringList{"0", "100"}));
    fake_->dialogAnswer = [](QDialog *) { return true; };
    click(Form1->butBack);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet1);
  }

  // The search: "Pieces wanted" keeps the longest silences, a second search
  // replaces the first's breakpoints but not those typed, and a line says
  // how many were found.
  void aSearchYouCanTune() {
    click(Form1->butBack);
    enterPage(QStringLiteral("speech.mp3"));  // seven pauses
    withBreakpoints({"5"});
    int pieces = 3;
    fake_->dialogAnswer = [&pieces](QDialog *d) {
      static_cast<TfrmSilences *>(d)->editPieces->setValue(pieces);
      return true;
    };
    Form1->FindSilences->trigger();
    QCOMPARE(items().size(), 5);  // 0, 5, two pauses, the end: three new
    QCOMPARE(Form1->findChild<QLabel *>(QStringLiteral("labDone"))->text(), QStringLiteral("7 silences, 3 new breakpoints"));
    pieces = 0;
    Form1->FindSilences->trigger();
    QCOMPARE(items().size(), 10);  // 0, 5, seven pauses, the end
    QCOMPARE(items().at(1), QStringLiteral("5"));
    QCOMPARE(Form1->findChild<QLabel *>(QStringLiteral("labDone"))->text(), QStringLiteral("7 silences, 8 new breakpoints"));
    // The dialog opens with the values last used.
    fake_->dialogAnswer = [](QDialog *d) {
      return static_cast<TfrmSilences *>(d)->editPieces->value() == 0 && !(d->reject(), true);
    };
    Form1->FindSilences->trigger();
    QCOMPARE(items().size(), 10);
  }
};

QTEST_MAIN(TestReview)
#include "tst_review.moc"
