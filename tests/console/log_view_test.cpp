// The log view on its own: bounded, and updated in batches.
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>

#include "console/log_view.h"

namespace qm::test {

using console::LogView;

class LogViewTest : public QObject {
    Q_OBJECT
private slots:
    void aBurstOfLinesShowsInOneUpdate_data() {
        QTest::addColumn<int>("maxLines");
        QTest::addColumn<int>("lines");
        QTest::newRow("fewer than the bound") << 100 << 40;
        QTest::newRow("exactly the bound") << 100 << 100;
        QTest::newRow("more than the bound") << 100 << 1000;
    }
    void aBurstOfLinesShowsInOneUpdate() {
        QFETCH(int, maxLines);
        QFETCH(int, lines);
        LogView view(maxLines);
        QSignalSpy changes(&view, &QPlainTextEdit::textChanged);
        for (int i = 0; i < lines; ++i) view.AppendLine(QString("line %1").arg(i));
        // Nothing is laid out per line.
        QCOMPARE(view.toPlainText(), QString());
        QTRY_COMPARE(view.document()->lastBlock().text(), QString("line %1").arg(lines - 1));
        QCOMPARE(changes.count(), 1);
        const int kept = std::min(lines, maxLines);
        QCOMPARE(view.document()->blockCount(), kept);
        QCOMPARE(view.document()->firstBlock().text(), QString("line %1").arg(lines - kept));
    }

    void laterBurstsFollowOnNewLinesAndOldOnesScrollAway() {
        LogView view(5);
        for (const char* line : {"a", "b", "c"}) view.AppendLine(line);
        QTRY_COMPARE(view.toPlainText(), QString("a\nb\nc"));
        for (const char* line : {"d", "e", "f"}) view.AppendLine(line);
        QTRY_COMPARE(view.toPlainText(), QString("b\nc\nd\ne\nf"));
    }

    void theOperatorCannotEditIt() {
        LogView view(5);
        view.AppendLine("kept");
        QTRY_COMPARE(view.toPlainText(), QString("kept"));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTest::keyClicks(&view, "typed");
        QTest::keyClick(&view, Qt::Key_Backspace);
        QCOMPARE(view.toPlainText(), QString("kept"));
    }
};

}  // namespace qm::test

QTEST_MAIN(qm::test::LogViewTest)
#include "log_view_test.moc"
