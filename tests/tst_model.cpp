// The wizard's rules on its model alone, without a widget: what Next asks
// of page 1, what entering a method page and Back do to the state, the
// breakpoints' order and titles, the split a page asks for, and what is
// kept in the settings.
#include <QSignalSpy>
#include <QtTest>

#include "WizardModel.h"

namespace {
QStringList framesOf(const WizardModel &m) {
  QStringList frames;
  for (const Breakpoint &b : m.breakpoints()) frames << b.text;
  return frames;
}
}  // namespace

class TestModel : public QObject {
  Q_OBJECT

 private slots:
  void nextNeedsASource() {
    WizardModel m;
    QCOMPARE(m.whyNotNext(), std::optional<QString>(QStringLiteral("You should select an MP3 file first.")));
    m.setSource(QStringLiteral("/music/live.mp3"));
    QCOMPARE(m.whyNotNext(), std::nullopt);
  }

  // Entering a page gives its default template; method 1 starts its list
  // with 0, and Back from it empties the list. Back from 2 keeps it.
  void enteringAndLeavingPages() {
    WizardModel m;
    m.setSource(QStringLiteral("/music/live set.mp3"));
    QSignalSpy changed(&m, &WizardModel::breakpointsChanged);
    m.enter(1);
    QCOMPARE(m.outputTemplate(1), QStringLiteral("live set-%track%.mp3"));
    QCOMPARE(m.joinName(), QStringLiteral("live set"));
    QCOMPARE(framesOf(m), QStringList{QStringLiteral("0")});
    m.insertBreakpoint(2500);
    m.enter(1);  // entered again: the list stays as it is
    QCOMPARE(framesOf(m), (QStringList{QStringLiteral("0"), QStringLiteral("2500")}));
    m.back(2);
    QCOMPARE(m.breakpoints().size(), 2);
    m.back(1);
    QVERIFY(m.breakpoints().empty());
    QCOMPARE(changed.size(), 3);
    m.enter(3);
    QCOMPARE(m.outputTemplate(3), QStringLiteral("live set-%track%.mp3"));
    QCOMPARE(m.outputTemplate(2), QString());
  }

  // Rising, one a frame, as typed; found breakpoints merge in one go and
  // bring their titles to frames without one.
  void breakpointsRiseAndMerge() {
    WizardModel m;
    for (const std::int64_t f : {50, 10, 30, 10}) m.insertBreakpoint(f);
    m.insertBreakpoint(7, QStringLiteral("007"));
    QCOMPARE(framesOf(m), (QStringList{"007", "10", "30", "50"}));
    m.insertBreakpoints({{30, QStringLiteral("Three"), QStringLiteral("P"), 3},
                         {20, QStringLiteral("Two"), {}, 2},
                         {20, QStringLiteral("Second title"), {}, -1},
                         {60, {}, {}, -1}});
    QCOMPARE(framesOf(m), (QStringList{"007", "10", "20", "30", "50", "60"}));
    QCOMPARE(m.breakpoints()[2].title, QStringLiteral("Two"));
    QCOMPARE(m.breakpoints()[3].title, QStringLiteral("Three"));
    QCOMPARE(m.breakpoints()[3].number, 3);
    m.insertBreakpoints({{30, QStringLiteral("Other"), {}, 9}});  // a titled frame keeps its own
    QCOMPARE(m.breakpoints()[3].title, QStringLiteral("Three"));
    m.removeBreakpoint(0);
    m.removeBreakpoint(99);  // no such one: nothing
    QCOMPARE(framesOf(m), (QStringList{"10", "20", "30", "50", "60"}));
  }

  // The split a page asks for: a plain value with what the pages hold.
  void requestsCarryThePages() {
    WizardModel m;
    m.setSource(QStringLiteral("book.mp3"));
    m.setFacts(3000, 78000);
    m.setExact(true);
    m.enter(1);
    m.insertBreakpoints({{1000, QStringLiteral("One"), QStringLiteral("Reader"), 1}});
    const SplitRequest one = m.request(1);
    QCOMPARE(one.method, 1);
    QCOMPARE(one.source, QStringLiteral("book.mp3"));
    QCOMPARE(one.frames, 3000);
    QCOMPARE(one.breakpoints, (QStringList{"0", "1000"}));
    QCOMPARE(one.titles.size(), 2);
    QCOMPARE(one.titles[1].title, QStringLiteral("One"));
    QCOMPARE(one.titles[1].number, 1);
    QVERIFY(one.exact);
    QVERIFY(!one.join);  // method 1 writes no join files
    m.enter(2);
    m.setParameter(2, QStringLiteral("60"));
    m.setJoin(2, false);
    m.setOutputTemplate(2, QStringLiteral("out/%track%.mp3"));
    const SplitRequest two = m.request(2);
    QCOMPARE(two.parameter, QStringLiteral("60"));
    QCOMPARE(two.totalTimeMs, 78000);
    QCOMPARE(two.outputTemplate, QStringLiteral("out/%track%.mp3"));
    QCOMPARE(two.joinName, QStringLiteral("book"));
    QVERIFY(!two.join);
    QVERIFY(two.breakpoints.isEmpty());
    m.setJoin(3, true);
    QVERIFY(m.request(3).join);
  }

  // A name chosen in the Change dialog keeps the placeholders it holds.
  void templatesFromChosenNames_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("outputTemplate");
    QTest::newRow("plain") << "/out/book.mp3" << "/out/book-%track%.mp3";
    QTest::newRow("track and title") << "/out/%track% %title%.mp3" << "/out/%track% %title%.mp3";
    QTest::newRow("title alone") << "/out/%title%.mp3" << "/out/%track% %title%.mp3";
    QTest::newRow("track alone") << "/out/part %track%.mp3" << "/out/part %track%.mp3";
    QTest::newRow("no extension") << "/out/book" << "/out/book-%track%";
  }
  void templatesFromChosenNames() {
    QFETCH(QString, chosen);
    QFETCH(QString, outputTemplate);
    QCOMPARE(WizardModel::templateFromChosen(chosen), outputTemplate);
  }

  // Undo takes back up to ten changes, in turn; Back forgets them.
  void undoTakesBackTenSteps() {
    WizardModel m;
    m.enter(1);
    for (int k = 1; k <= 12; ++k) {
      m.remember();
      m.insertBreakpoint(k * 10);
    }
    for (int k = 0; k < 10; ++k) QVERIFY(m.undo());
    QVERIFY(!m.undo());
    QCOMPARE(framesOf(m), (QStringList{"0", "10", "20"}));
    m.remember();
    m.clearBreakpoints();
    m.back(1);
    QVERIFY(!m.undo());
  }

  // Only a silence search's breakpoints go before another search, also
  // once they were moved to pauses.
  void aSearchReplacesOnlyWhatASearchFound() {
    WizardModel m;
    m.enter(1);
    m.insertBreakpoint(5);
    m.insertBreakpoints({{100, {}, {}, -1}, {200, {}, {}, -1}}, true);
    m.insertBreakpoints({{300, QStringLiteral("Cue"), {}, 1}});
    m.replaceBreakpoints({{0, {}, {}, -1}, {7, {}, {}, -1}, {110, {}, {}, -1}, {190, {}, {}, -1}, {300, QStringLiteral("Cue"), {}, 1}});
    m.removeSearched();
    QCOMPARE(framesOf(m), (QStringList{"0", "7", "300"}));
  }

  // Breakpoints that a split used are not asked about; any change makes
  // them worth asking about again.
  void whatIsWorthAskingAbout() {
    WizardModel m;
    m.enter(1);
    QVERIFY(!m.unused());  // the 0 alone
    m.insertBreakpoint(10);
    QVERIFY(m.unused());
    m.markUsed();
    QVERIFY(!m.unused());
    m.setTitle(1, QStringLiteral("One"));
    QVERIFY(m.unused());
  }

  // The settings keep the method (method 1 where none was chosen) and the
  // exact cuts box.
  void whatTheSettingsKeep() {
    WizardModel m;
    QCOMPARE(m.stored().method, 1);
    QVERIFY(!m.stored().exact);
    m.setMethod(3);
    m.setExact(true);
    QCOMPARE(m.stored().method, 3);
    QVERIFY(m.stored().exact);
  }
};

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
