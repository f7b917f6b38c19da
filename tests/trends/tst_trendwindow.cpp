// The trend window on its own.
#include "MessagePresenter.h"
#include "TestSupport.h"
#include "TrendLayouts.h"
#include "TrendWindow.h"
#include "Window.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace qim;

class TestTrendWindow : public QObject {
    Q_OBJECT
    MessagePresenter presenter;
    QPointer<TrendWindow> w;

    void make(const TrendLayout& layout) {
        w = new TrendWindow(layout, presenter);
        w->show();
    }
    static std::vector<double> loops(double pv) { return std::vector<double>(12, pv); }

private Q_SLOTS:
    void initTestCase() { qimtest::quietOffscreenPlatform(); }
    void cleanup() {
        delete w;
        presenter.dismissAll();
    }

    void missingPollsBreakTheLines() {
        make(temperatureTrendLayout());
        const qint64 t = QDateTime::currentMSecsSinceEpoch() - 30'000;
        // Polls 0..3 good, 4 and 5 failed, 6..8 good; then Scan again (0, 1).
        const int polls[] = {0, 1, 2, 3, 6, 7, 8, 0, 1};
        for (int k = 0; k < 9; ++k)
            w->addPollAt(t + 2000 * k, polls[k], loops(20 + k));
        w->redraw();
        const auto runs = w->drawnRuns(0);
        QCOMPARE(runs.size(), 3);
        QCOMPARE(runs[0].size(), 4);
        QCOMPARE(runs[2].last().y(), 28.0);
        w->setPaused(true); // the picture holds what had arrived
        w->addPollAt(t + 18'000, 2, loops(40));
        w->redraw();
        QCOMPARE(w->drawnRuns(0).last().last().y(), 28.0);
        w->setPaused(false);
        QCOMPARE(w->drawnRuns(0).last().last().y(), 40.0);
    }

    void displayChangeStartsANewScale() {
        make(analogTrendLayout());
        const qint64 t = QDateTime::currentMSecsSinceEpoch() - 10'000;
        w->addPollAt(t, 0, std::vector<double>(8, 5.12), 0);
        w->addPollAt(t + 100, 1, std::vector<double>(8, 5.12), 0);
        w->addPollAt(t + 200, 2, std::vector<double>(8, 32768), 1);
        QCOMPARE(w->scale(), 1); // counts are not drawn against the volts axis
        QCOMPARE(w->store().size(), 1);
        QCOMPARE(w->csvHeaders({0}), QStringList{"AIN1 (counts)"});
        w->addPollAt(t + 300, 3, std::vector<double>(8, 5.12), 0);
        QCOMPARE(w->store().size(), 3); // the volts seen before, after a break
        QVERIFY(w->store().gapBefore(2));
        w->addPollAt(t + 400, 4, std::vector<double>(8, 1), 2); // a scale it does not have
        QCOMPARE(w->store().size(), 3);
    }

    void checkBoxesChooseWhatIsDrawnAndSaved() {
        make(temperatureTrendLayout());
        const qint64 t = QDateTime::currentMSecsSinceEpoch() - 5000;
        for (int i = 0; i < 5; ++i)
            w->addPollAt(t + i * 1000, i, loops(20 + i));
        qimtest::Window(w).get<QCheckBox>(QStringLiteral("Check_Series2"))->setChecked(false);
        qimtest::Window(w).get<QCheckBox>(QStringLiteral("Check_SetPoint"))->setChecked(false);
        QCOMPARE(w->shownSeries(), (QList<int>{0, 2, 3, 8, 10, 11}));
        QVERIFY(w->drawnRuns(1).isEmpty() && w->drawnRuns(5).isEmpty() &&
                !w->drawnRuns(0).isEmpty());
        QTemporaryDir dir;
        QSignalSpy finished(w.data(), &TrendWindow::exportFinished);
        w->exportCsv(dir.filePath(QStringLiteral("shown.csv")));
        QVERIFY(finished.wait(10000));
        const QStringList lines = qimtest::readCsvLines(dir.filePath(QStringLiteral("shown.csv")));
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines[0], QStringLiteral("Time,PV1 (degC),PV3 (degC),PV4 (degC),Power1 (%),"
                                          "Power3 (%),Power4 (%)"));
        QVERIFY(lines[5].endsWith(QStringLiteral(",24,24,24,24,24,24")));
        // A file that cannot be written is told, once.
        w->exportCsv(dir.filePath(QStringLiteral("no/such/folder/x.csv")));
        QVERIFY(finished.wait(10000));
        const QStringList shown = qimtest::takeMessages();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].startsWith(QStringLiteral("The trend could not be saved")));
    }
};

QIM_TEST_MAIN(TestTrendWindow)
#include "tst_trendwindow.moc"
