#include <QListWidget>
#include <QSignalSpy>
#include <QtTest>

#include "AppFixture.h"
#include "ManualClock.h"
#include "TestSupport.h"

// The breakpoint editor: list, preview transport, position slider, offset dialog.
class TestEditor : public QObject {
  Q_OBJECT

  QTemporaryDir settingsDir_;
  FakePlatform *fake_ = nullptr;

  QStringList items() const {
    QStringList list;
    for (int i = 0; i < Form1->ListBox->count(); ++i) list << Form1->ListBox->item(i)->text();
    return list;
  }

  // Enters the breakpoint page with a real MP3 playing.
  void enterPage(const QString &file = QStringLiteral("cbr-info.mp3")) {
    Form1->Edit1->setText(media(file));
    click(Form1->RadioButton1);
    click(Form1->butNext);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet3);
  }

  void select(int row) { Form1->ListBox->setCurrentRow(row); }

  // The preview plays `ms` more on the test's clock; what it reports is
  // handled by the window in between, as it would be while playing.
  static void hear(int ms) { audio::ManualClock::play(*Form1->XPlayer, ms); }
  // The commands sent to the player so far are carried out, and what they
  // report is handled by the window.
  static void settle() { audio::ManualClock::settle(*Form1->XPlayer); }

  // The player's own reports, as the program gets them.
  struct Positions {
    QList<std::uint32_t> offsets;
    explicit Positions(TXaudioPlayer *p) {
      QObject::connect(p, &TXaudioPlayer::OnNotifyInputPosition, p,
                       [this](QObject *, std::uint32_t o, std::uint32_t) { offsets << o; });
    }
    std::uint32_t last() const { return offsets.isEmpty() ? 0u : offsets.last(); }
  };

 private slots:
  void initTestCase() {
    audio::ManualClock::start();
    isolateSettings(settingsDir_);
    QApplication::setApplicationName(QStringLiteral("Tranchette"));
  }
  void init() {
    fake_ = startProgram();
    QVERIFY(QTest::qWaitForWindowActive(Form1));
  }
  void cleanup() { stopProgram(); }

  void insertionKeepsTheListAscending() {
    for (const char *t : {"50", "10", "30", "007", "7", "30", "99999"}) Form1->InsertBreakpoint(QString::fromLatin1(t));
    QCOMPARE(items(), (QStringList{"007", "10", "30", "50", "99999"}));
    Form1->Deleteallbreakpoints1Click(nullptr);
    Form1->InsertBreakpoint(QStringLiteral("7"));
    Form1->InsertBreakpoint(QStringLiteral("3"));  // below the first item
    QCOMPARE(items(), (QStringList{"3", "7"}));
  }

  void whatIsNoFrameNumberStaysOut() {
    Form1->InsertBreakpoint(QStringLiteral("-------"));
    Form1->InsertBreakpoint(QStringLiteral("-5"));
    guard([] { Form1->InsertBreakpoint(QStringLiteral("99999999999")); });  // as a handler: silently
    QVERIFY(items().isEmpty());
    Form1->InsertBreakpoint(QStringLiteral("4"));
    Form1->labFrame->setText(QStringLiteral("-------"));
    click(Form1->butAdd);
    QCOMPARE(items(), QStringList{"4"});
    QVERIFY(fake_->messages.isEmpty());
  }

  void theEditBoxTakesDigitsAndEnter() {
    enterPage();
    QTest::keyClicks(Form1->editBreakPoint, QStringLiteral("1a -2"));
    QCOMPARE(Form1->editBreakPoint->text(), QStringLiteral("12"));
    QTest::keyClick(Form1->editBreakPoint, Qt::Key_Backspace);
    QTest::keyClicks(Form1->editBreakPoint, QStringLiteral("5"));
    QTest::keyClick(Form1->editBreakPoint, Qt::Key_Return);
    QCOMPARE(items(), (QStringList{"0", "15"}));
    QCOMPARE(Form1->editBreakPoint->text(), QStringLiteral("15"));
    Form1->editBreakPoint->setText(QStringLiteral("   "));
    click(Form1->butAddPoint);
    Form1->editBreakPoint->setText(QStringLiteral(" 8 "));
    click(Form1->butAddPoint);
    QCOMPARE(items(), (QStringList{"0", "8", "15"}));
  }

  void anyButtonOnAddTakesTheCurrentFrame() {
    enterPage();
    Form1->TrackPosition = false;  // the player's reports leave labFrame alone
    Form1->labFrame->setText(QStringLiteral("120"));
    click(Form1->butAdd, Qt::RightButton);
    Form1->labFrame->setText(QStringLiteral("60"));
    click(Form1->butAdd, Qt::MiddleButton);
    QCOMPARE(items(), (QStringList{"0", "60", "120"}));
  }

  void theMenuActsOnTheItemJustClicked() {
    enterPage();
    for (const char *t : {"10", "20"}) Form1->InsertBreakpoint(QString::fromLatin1(t));
    QListWidget *list = Form1->ListBox;
    const QPoint second = list->visualItemRect(list->item(1)).center();
    fake_->menuAnswers.push_back(QStringLiteral("Delete this breakpoint"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
    QCOMPARE(fake_->menus, QList<QPoint>{fake_->cursor});  // at the pointer
    QCOMPARE(items(), (QStringList{"0", "20"}));
    QCOMPARE(Form1->GetSelectedIndex(), 1);  // the one that took its place, for the next key

    // The right button opens the same menu.
    const QPoint below(5, list->height() - 5);
    QTest::mouseClick(list->viewport(), Qt::RightButton, {}, below);
    QCOMPARE(fake_->menus.size(), 2);

    list->clearSelection();
    fake_->menuAnswers.push_back(QStringLiteral("Delete this breakpoint"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, below);  // nothing selected
    QCOMPARE(fake_->menus.size(), 3);
    QCOMPARE(items(), (QStringList{"0", "20"}));

    fake_->menuAnswers.push_back(QStringLiteral("Delete all breakpoints"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
    QVERIFY(items().isEmpty());
    QVERIFY(!Form1->Adjust->isVisible());
  }

  // The menu key and Shift+F10 with nothing selected: the menu opens at
  // the current line, or the first where there is none, below it, and acts
  // on that line.
  void theMenuKeyWithNothingSelected_data() {
    QTest::addColumn<QKeySequence>("key");
    QTest::addColumn<int>("current");  // -1: none
    QTest::addColumn<int>("line");     // where the menu opens
    QTest::addColumn<QStringList>("left");
    const QKeySequence menu(Qt::Key_Menu), shiftF10(Qt::SHIFT | Qt::Key_F10);
    QTest::newRow("Menu, a current line") << menu << 2 << 2 << QStringList{"0", "10"};
    QTest::newRow("Shift+F10, a current line") << shiftF10 << 1 << 1 << QStringList{"0", "20"};
    QTest::newRow("Menu, no current line") << menu << -1 << 0 << QStringList{"10", "20"};
    QTest::newRow("Shift+F10, no current line") << shiftF10 << -1 << 0 << QStringList{"10", "20"};
  }
  void theMenuKeyWithNothingSelected() {
    QFETCH(QKeySequence, key);
    QFETCH(int, current);
    QFETCH(int, line);
    QFETCH(QStringList, left);
    enterPage();
    for (const char *t : {"10", "20"}) Form1->InsertBreakpoint(QString::fromLatin1(t));
    QListWidget *list = Form1->ListBox;
    list->setFocus();
    if (current >= 0)
      list->setCurrentRow(current);
    else
      list->setCurrentItem(nullptr);
    list->clearSelection();
    QCOMPARE(Form1->GetSelectedIndex(), 3);  // nothing selected: the count
    const QPoint at = list->viewport()->mapToGlobal(list->visualItemRect(list->item(line)).bottomLeft());
    fake_->menuAnswers.push_back(QStringLiteral("Delete this breakpoint"));
    QTest::keyClick(list, key[0].key(), key[0].keyboardModifiers());
    QCOMPARE(fake_->menus, QList<QPoint>{at});
    QCOMPARE(items(), left);
  }

  void playThreeSecondsAfter() {
    enterPage();
    Form1->InsertBreakpoint(QStringLiteral("200"));
    Positions pos(Form1->XPlayer);
    Form1->Play3SecsAfterClick(nullptr);  // nothing selected: nothing happens
    QVERIFY(!Form1->Timer->isActive());
    select(1);
    Form1->Play3SecsAfterClick(nullptr);
    QCOMPARE(Form1->labFrame->text(), QStringLiteral("200"));
    QVERIFY(Form1->Timer->isActive());
    QCOMPARE(Form1->Timer->interval(), 3000);
    hear(1000);
    QCOMPARE(pos.last(), 238u);
    // Asked again: from the breakpoint once more, in what is left of the 3 s
    // (the window's timer keeps real time: at least a millisecond of it).
    QTRY_VERIFY(Form1->Timer->remainingTime() < 3000);
    const int remaining = Form1->Timer->remainingTime();
    Form1->Play3SecsAfterClick(nullptr);
    QVERIFY(Form1->Timer->remainingTime() <= remaining);
    hear(500);
    QCOMPARE(pos.last(), 219u);
    // The 3 s are up: the preview holds where it is.
    QVERIFY(QMetaObject::invokeMethod(Form1->Timer, "timeout"));
    QVERIFY(!Form1->Timer->isActive());
    hear(500);
    QCOMPARE(pos.last(), 219u);
  }

  void leadInStopsAtTheSelectedBreakpoint() {
    enterPage();
    Form1->InsertBreakpoint(QStringLiteral("1000"));
    Form1->InsertBreakpoint(QStringLiteral("2000"));
    select(1);
    Form1->Play3SecsBeforeClick(nullptr);
    QVERIFY(Form1->PlayingToBreakpoint);
    QCOMPARE(Form1->labFrame->text(), QStringLiteral("872"));
    // Reports below the breakpoint go on; the selection is looked up afresh.
    Form1->XPlayerNotifyInputPosition(nullptr, 999, 384);
    QVERIFY(Form1->PlayingToBreakpoint);
    select(2);
    Form1->XPlayerNotifyInputPosition(nullptr, 1000, 384);  // not yet 2000
    QVERIFY(Form1->PlayingToBreakpoint);
    select(1);
    Form1->XPlayerNotifyInputPosition(nullptr, 1000, 384);
    QVERIFY(!Form1->PlayingToBreakpoint);
    QCOMPARE(Form1->labFrame->text(), QStringLiteral("1000"));
  }

  // Asked for while paused past the breakpoint, the lead-in plays up to it:
  // a report of the place before the seek must not end it at once.
  void leadInOnARealPlayer() {
    enterPage();
    Form1->InsertBreakpoint(QStringLiteral("150"));
    select(1);
    Positions pos(Form1->XPlayer);
    Form1->XPlayer->InputSeek(300, 384);
    hear(200);
    Form1->XPlayer->Pause();
    settle();
    QCOMPARE(pos.last(), 307u);
    const qsizetype before = pos.offsets.size();
    Form1->Play3SecsBeforeClick(nullptr);
    hear(3500);
    QVERIFY(!Form1->PlayingToBreakpoint);
    // From 128 frames before the breakpoint, paused on reaching it.
    QCOMPARE(pos.offsets.at(before), 22u);
    QCOMPARE(pos.last(), 150u);
    hear(500);
    QCOMPARE(pos.last(), 150u);
  }

  void leadInBelow128StartsAtTheBeginning() {
    enterPage();
    Form1->InsertBreakpoint(QStringLiteral("40"));
    select(1);
    hear(1500);
    Positions pos(Form1->XPlayer);
    Form1->Play3SecsBeforeClick(nullptr);
    QCOMPARE(Form1->labFrame->text(), QStringLiteral("-88"));
    settle();
    QCOMPARE(pos.offsets.first(), 0u);
    hear(1500);
    QCOMPARE(pos.last(), 40u);
    QVERIFY(!Form1->PlayingToBreakpoint);
  }

  void positionReportsMoveTheDisplay() {
    enterPage();
    Form1->FrameCorrection = -37;
    Form1->XPlayerNotifyInputPosition(nullptr, 100, 384);
    QCOMPARE(Form1->labFrame->text(), QStringLiteral("63"));
    QCOMPARE(Form1->Slider->value(), 63);
    Form1->XPlayerNotifyInputPosition(nullptr, 10, 384);
    QCOMPARE(Form1->labFrame->text(), QStringLiteral("0"));
    QCOMPARE(Form1->Slider->value(), 0);
    Form1->SliderDragging = true;
    Form1->XPlayerNotifyInputPosition(nullptr, 200, 384);
    QCOMPARE(Form1->labFrame->text(), QStringLiteral("0"));
    Form1->SliderDragging = false;
    Form1->TrackPosition = false;
    Form1->XPlayerNotifyInputPosition(nullptr, 200, 384);
    QCOMPARE(Form1->Slider->value(), 0);
  }

  void timecodes_data() {
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("m");
    QTest::addColumn<int>("s");
    QTest::addColumn<QString>("shown");
    QTest::newRow("small") << 0 << 5 << 30 << "00 :05 :30";
    QTest::newRow("large") << 12 << 42 << 7 << "12 :42 :07";
  }
  void timecodes() {
    QFETCH(int, h);
    QFETCH(int, m);
    QFETCH(int, s);
    QFETCH(QString, shown);
    Form1->XPlayerNotifyInputTimecode(nullptr, h, m, s, 99);
    QCOMPARE(Form1->labHour->text() + u' ' + Form1->labMin->text() + u' ' + Form1->labSec->text(), shown);
  }

  void seeksToTheBeginningAndTheEnd() {
    enterPage();
    Positions pos(Form1->XPlayer);
    Form1->XPlayer->Pause();
    click(Form1->imgFaste);
    settle();
    QCOMPARE(pos.last(), 384u);
    click(Form1->imgFastb);
    settle();
    QCOMPARE(pos.last(), 1u);
  }

  // The whole page from the keyboard, wherever the focus is outside the edit box.
  void thePreviewFromTheKeyboard() {
    enterPage();
    Positions pos(Form1->XPlayer);
    Form1->butNext->setFocus();
    auto press = [](QKeySequence key) {
      QTest::keyClick(QApplication::focusWidget(), key[0].key(), key[0].keyboardModifiers());
    };
    hear(1000);
    press(Qt::Key_Space);  // pauses what plays since the entry
    hear(500);
    QCOMPARE(pos.last(), 39u);
    QCOMPARE(Form1->Slider->value(), 39);
    QCOMPARE(Form1->labFrame->text(), QStringLiteral("39"));
    // Right seeks a second on (38.4 frames of this file), Left one back.
    press(Qt::Key_Home);
    settle();
    QCOMPARE(pos.last(), 1u);
    Form1->Slider->setFocus();  // the slider's own arrow keys would move its thumb only
    press(Qt::Key_Right);
    press(Qt::Key_Right);
    press(Qt::Key_Right);
    press(Qt::Key_Left);
    const int expected = 1 + 2 * 38;
    QCOMPARE(Form1->Slider->value(), expected);
    QCOMPARE(Form1->labFrame->text(), QString::number(expected));
    press(Qt::Key_Space);  // plays on from there
    hear(500);
    QCOMPARE(pos.last(), 96u);
    press(Qt::Key_Space);
    // Page Up and Down: ten seconds, within the file.
    press(Qt::Key_PageUp);
    QCOMPARE(Form1->Slider->value(), Form1->Slider->maximum());
    press(Qt::Key_PageDown);
    QCOMPARE(Form1->Slider->value(), Form1->Slider->maximum() - 384);
    // B, Insert and Alt+B add the frame shown; Delete removes the selected one.
    press(Qt::Key_End);
    settle();
    QCOMPARE(pos.last(), 384u);
    Form1->labFrame->setText(QStringLiteral("100"));
    press(Qt::Key_B);
    Form1->labFrame->setText(QStringLiteral("200"));
    press(Qt::Key_Insert);
    Form1->labFrame->setText(QStringLiteral("300"));
    press(QKeySequence(Qt::ALT | Qt::Key_B));
    QCOMPARE(items(), (QStringList{"0", "100", "200", "300"}));
    Form1->ListBox->setFocus();
    select(0);
    QTest::keyClick(Form1->ListBox, Qt::Key_Down);
    press(Qt::Key_Delete);
    QCOMPARE(items(), (QStringList{"0", "200", "300"}));
    // The menu key and Shift+F10 open the list's menu below the selected line.
    select(1);
    fake_->menuAnswers.push_back(QStringLiteral("Delete this breakpoint"));
    press(Qt::Key_Menu);
    QCOMPARE(items(), (QStringList{"0", "300"}));
    select(1);
    press(QKeySequence(Qt::SHIFT | Qt::Key_F10));
    const QRect line = Form1->ListBox->visualItemRect(Form1->ListBox->item(1));
    QCOMPARE(fake_->menus.last(), Form1->ListBox->viewport()->mapToGlobal(line.bottomLeft()));
    // In the edit box the keys edit; on page 1 they are the page's own.
    Form1->editBreakPoint->setFocus();
    QTest::keyClicks(Form1->editBreakPoint, QStringLiteral("42"));
    press(Qt::Key_Left);
    press(Qt::Key_Delete);
    QCOMPARE(Form1->editBreakPoint->text(), QStringLiteral("4"));
    QCOMPARE(items(), (QStringList{"0", "300"}));
    fake_->dialogAnswer = [](QDialog *) { return true; };  // discard the breakpoints
    click(Form1->butBack);
    Form1->Slider->setValue(50);
    Form1->RadioButton2->setFocus();
    press(Qt::Key_Right);
    QCOMPARE(Form1->Slider->value(), 50);
  }

  void releaseArithmetic_data() {
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("offset");  // -1: no seek
    QTest::newRow("11") << 11 << 10 - 9;
    QTest::newRow("165") << 165 << 155;
    QTest::newRow("319") << 319 << 309;
    QTest::newRow("320") << 320 << 309;
    QTest::newRow("500") << 500 << 309;
    QTest::newRow("5") << 5 << 1;
    QTest::newRow("10") << 10 << 1;
    QTest::newRow("left of the control") << 65535 - 3 << 1;
    QTest::newRow("10000") << 10000 << -1;
  }
  void releaseArithmetic() {
    QFETCH(int, x);
    QFETCH(int, offset);
    const auto seek = TTrackBar1::seekForRelease(x, 330);
    QCOMPARE(seek.has_value(), offset >= 0);
    if (seek) {
      QCOMPARE(seek->offset, static_cast<std::uint32_t>(offset));
      QCOMPARE(seek->range, 310);
    }
  }

  void aReleaseOnTheSliderSeeksThereAndPlays() {
    enterPage();
    Positions pos(Form1->XPlayer);
    TTrackBar1 *slider = Form1->Slider;
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(60, 20));
    QVERIFY(Form1->SliderDragging);
    QTest::mouseMove(slider, QPoint(165, 20));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(165, 20));
    QVERIFY(!Form1->SliderDragging);
    QCOMPARE(slider->ReleaseX, 165);
    // 155 of 310: frame 192 of 384, and playing on from there.
    settle();
    QCOMPARE(pos.last(), 192u);
    hear(500);
    QCOMPARE(pos.last(), 211u);
  }

  // The wind follows the clock (the 10 s file has 38.4 frames a second),
  // whatever number of events arrives meanwhile.
  void fastForwardWindsUntilTheReleaseAtAFixedSpeed() {
    enterPage();
    Form1->XPlayer->Pause();
    Form1->Slider->setValue(20);
    QElapsedTimer held;
    held.start();
    QTimer::singleShot(100, this, [] { QTest::mouseRelease(Form1->imgFastf, Qt::RightButton, {}, QPoint(-50, 40)); });
    QTest::mousePress(Form1->imgFastf, Qt::RightButton, {}, QPoint(2, 2));  // returns when the wind ends
    const double seconds = held.elapsed() / 1000.0;
    QVERIFY(!Form1->FastForwarding);
    QVERIFY(Form1->TrackPosition);
    const int wound = Form1->Slider->value() - 20;
    QVERIFY2(wound >= 10 * 38.4 * 0.1 && wound <= std::min(100 * 38.4 * seconds, 364.0),
             qPrintable(QStringLiteral("%1 frames in %2 s").arg(wound).arg(seconds)));
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    // Playing on from where the wind ended.
    Positions pos(Form1->XPlayer);
    settle();
    QCOMPARE(pos.offsets.first(), static_cast<std::uint32_t>(wound + 20));
    hear(500);
    QCOMPARE(pos.last(), static_cast<std::uint32_t>(wound + 20 + 19));
  }

  void fastReverseStopsAtTheStart() {
    enterPage();
    Form1->Slider->setValue(3);
    QTimer::singleShot(200, this, [] { QTest::mouseRelease(Form1->imgFastr, Qt::LeftButton, {}, QPoint(2, 2)); });
    QTest::mousePress(Form1->imgFastr, Qt::LeftButton, {}, QPoint(2, 2));
    QCOMPARE(Form1->Slider->value(), 0);
    QVERIFY(!Form1->FastReversing);
    // While winding, reports were turned away; now they count again.
    Form1->XPlayerNotifyInputPosition(nullptr, 100, 384);
    QCOMPARE(Form1->labFrame->text(), QStringLiteral("100"));
  }

  void offsetDialogRoundTrips() {
    enterPage();
    frmAdjust->show();
    QCOMPARE(frmAdjust->Label1->text(), QStringLiteral("0"));
    frmAdjust->TrackBar1->setValue(300);
    QCOMPARE(frmAdjust->Label1->text(), QStringLiteral("100"));
    click(frmAdjust->butOK);
    QCOMPARE(Form1->Offset, 300);
    QCOMPARE(Form1->FrameCorrection, 100);
    QCOMPARE(Form1->Slider->maximum(), 384 + 100);
    QVERIFY(!frmAdjust->isVisible());

    frmAdjust->show();
    QCOMPARE(frmAdjust->Label1->text(), QStringLiteral("100"));
    frmAdjust->TrackBar1->setValue(10);
    click(frmAdjust->butCancel);
    QCOMPARE(Form1->Offset, 300);

    frmAdjust->show();
    QCOMPARE(frmAdjust->TrackBar1->value(), 300);
    click(frmAdjust->butReset);
    QCOMPARE(frmAdjust->Label1->text(), QStringLiteral("0"));
    click(frmAdjust->butOK);
    QCOMPARE(Form1->FrameCorrection, 0);
    frmAdjust->show();
    click(frmAdjust->butOK);
    QCOMPARE(Form1->FrameCorrection, 0);
    // Centred on the main window.
    QCOMPARE(frmAdjust->pos(), Form1->pos() + QPoint((539 - 258) / 2, (325 - 136) / 2));
  }

  void aMaximumBelowZeroIsIgnored() {
    enterPage(QStringLiteral("mpeg25-mono.mp3"));  // 100 frames
    QCOMPARE(Form1->Slider->maximum(), 100);
    Form1->Offset = 0;
    frmAdjust->show();
    click(frmAdjust->butOK);  // 100 - 200 < 0
    QCOMPARE(Form1->FrameCorrection, -200);
    QCOMPARE(Form1->Slider->maximum(), 100);
  }

  // Last: once the event loop has been told to quit, windows no longer activate.
  void aQuitDuringAWindStillEndsTheProgram() {
    enterPage();
    QTimer::singleShot(0, this, [] { QTest::mousePress(Form1->imgFastf, Qt::LeftButton, {}, QPoint(2, 2)); });
    QTimer::singleShot(100, qApp, [] { QCoreApplication::quit(); });
    QTimer::singleShot(300, this, [] { QTest::mouseRelease(Form1->imgFastf, Qt::LeftButton, {}, QPoint(2, 2)); });
    QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(99); });
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!Form1->FastForwarding);
  }
};

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
