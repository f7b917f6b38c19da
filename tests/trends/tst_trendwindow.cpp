// The trend window on its own: breaks where polls are missing, the scales
// of the analog display, the check boxes, time span, pause, the readout,
// the axes scaling themselves, and export through the file dialog.
#include "TestSupport.h"
#include "TrendLayouts.h"
#include "TrendWindow.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QValueAxis>

using namespace qim;

namespace {
std::vector<double> temperatures(double pv, double sp, double power) {
    // PV1..4, SP1..4, Power1..4; loops 2..4 a little apart.
    std::vector<double> v;
    for (int n = 0; n < 4; ++n)
        v.push_back(pv + n);
    for (int n = 0; n < 4; ++n)
        v.push_back(sp + n);
    for (int n = 0; n < 4; ++n)
        v.push_back(power + n);
    return v;
}

QValueAxis* axisOf(TrendWindow* w, Qt::Alignment side) {
    const auto axes = w->chart()->axes(Qt::Vertical);
    for (QAbstractAxis* a : axes)
        if (a->alignment() == side)
            return qobject_cast<QValueAxis*>(a);
    return nullptr;
}

} // namespace

class TestTrendWindow : public QObject {
    Q_OBJECT
    TrendWindow* w = nullptr;

    TrendWindow* make(const TrendLayout& layout) {
        w = new TrendWindow(layout);
        w->show();
        return w;
    }
    template <class T> T* child(const char* name) {
        T* c = w->findChild<T*>(QLatin1String(name));
        if (!c)
            qFatal("no %s", name);
        return c;
    }
    qint64 now() const { return QDateTime::currentMSecsSinceEpoch(); }

private Q_SLOTS:
    void initTestCase() { qimtest::QuietOffscreenPlatform(); }
    void cleanup() {
        delete w;
        w = nullptr;
    }

    void namesAndControls() {
        make(TemperatureTrendLayout());
        QCOMPARE(w->objectName(), QStringLiteral("frmTrend_P750"));
        QCOMPARE(w->windowTitle(), QStringLiteral("QIM-P750 Trend"));
        QVERIFY(w->testAttribute(Qt::WA_DeleteOnClose));
        auto* span = child<QComboBox>("Combo_Span");
        QCOMPARE(span->count(), 4);
        QCOMPARE(span->itemText(3), QStringLiteral("All"));
        for (int n = 1; n <= 4; ++n)
            QCOMPARE(child<QCheckBox>(QStringLiteral("Check_Series%1").arg(n).toLatin1())->text(),
                     QStringLiteral("Loop %1").arg(n));
        QVERIFY(!w->findChild<QCheckBox*>(QStringLiteral("Check_Series5")));
        QVERIFY(child<QCheckBox>("Check_SetPoint")->isChecked());
        QVERIFY(child<QCheckBox>("Check_HeaterPower")->isChecked());
        // Before the first poll the window says what it waits for.
        QVERIFY(child<QLabel>("Label_Readout")->text().contains(QStringLiteral("Scan")));
        // Temperature on the left, heater power on its own axis on the right.
        QCOMPARE(axisOf(w, Qt::AlignLeft)->titleText(), QStringLiteral("Temperature (\u00b0C)"));
        QCOMPARE(axisOf(w, Qt::AlignRight)->titleText(), QStringLiteral("Heater power (%)"));

        delete w;
        make(AnalogTrendLayout());
        QCOMPARE(w->objectName(), QStringLiteral("frmTrend_M640"));
        for (int n = 1; n <= 8; ++n)
            QCOMPARE(child<QCheckBox>(QStringLiteral("Check_Series%1").arg(n).toLatin1())->text(),
                     QStringLiteral("AIN%1").arg(n));
        QVERIFY(!w->findChild<QCheckBox*>(QStringLiteral("Check_SetPoint")));
        QCOMPARE(axisOf(w, Qt::AlignRight), nullptr);
    }

    void missingPollsBreakTheLines() {
        make(TemperatureTrendLayout());
        w->setSpan(TrendWindow::OneMinute);
        const qint64 t = now() - 30'000;
        // Polls 0..3 good, 4 and 5 failed, 6..8 good; then Scan again (0, 1).
        const int polls[] = {0, 1, 2, 3, 6, 7, 8, 0, 1};
        for (int k = 0; k < 9; ++k)
            w->addPollAt(t + 2000 * k, polls[k], temperatures(20 + k, 100, 50));
        const TrendStore& st = w->store();
        QCOMPARE(st.size(), 9);
        QList<bool> gaps;
        for (int i = 0; i < st.size(); ++i)
            gaps << st.gapBefore(i);
        QCOMPARE(gaps, (QList<bool>{false, false, false, false, true, false, false, true, false}));
        w->redraw();
        const auto runs = w->drawnRuns(0);
        QCOMPARE(runs.size(), 3);
        QCOMPARE(runs[0].size(), 4);
        QCOMPARE(runs[1].first().y(), 24.0);
        QCOMPARE(runs[2].last().y(), 28.0);
    }

    void displayChangeStartsANewScale() {
        make(AnalogTrendLayout());
        const qint64 t = now() - 10'000;
        const std::vector<double> volts(8, 5.12);
        const std::vector<double> counts(8, 32768);
        w->addPollAt(t, 0, volts, 0);
        w->addPollAt(t + 100, 1, volts, 0);
        QCOMPARE(axisOf(w, Qt::AlignLeft)->titleText(), QStringLiteral("Volts"));
        w->addPollAt(t + 200, 2, counts, 1);
        // Counts are not drawn against the volts axis: their own samples and axis.
        QCOMPARE(w->scale(), 1);
        QCOMPARE(w->store().size(), 1);
        QCOMPARE(w->store().value(3, 0), 32768.0f);
        QCOMPARE(axisOf(w, Qt::AlignLeft)->titleText(), QStringLiteral("Counts"));
        w->redraw();
        QVERIFY(axisOf(w, Qt::AlignLeft)->max() >= 32768);
        QCOMPARE(w->csvHeaders({0}), QStringList{QStringLiteral("AIN1 (counts)")});
        // Back to volts: the volts seen before are still there, after a break.
        w->addPollAt(t + 300, 3, volts, 0);
        QCOMPARE(w->store().size(), 3);
        QVERIFY(w->store().gapBefore(2));
        QCOMPARE(w->csvHeaders({0, 7}),
                 (QStringList{QStringLiteral("AIN1 (V)"), QStringLiteral("AIN8 (V)")}));
        // A scale the panel does not have is ignored.
        w->addPollAt(t + 400, 4, volts, 2);
        QCOMPARE(w->store().size(), 3);
    }

    void checkBoxesChooseWhatIsDrawnAndSaved() {
        make(TemperatureTrendLayout());
        const qint64 t = now() - 5000;
        for (int i = 0; i < 5; ++i)
            w->addPollAt(t + i * 1000, i, temperatures(20 + i, 100, 80 - i));
        w->redraw();
        QCOMPARE(w->shownSeries().size(), 12);
        QVERIFY(!w->drawnRuns(1).isEmpty());

        child<QCheckBox>("Check_Series2")->setChecked(false); // loop 2
        QVERIFY(w->drawnRuns(1).isEmpty());                   // PV2
        QVERIFY(w->drawnRuns(5).isEmpty());                   // SP2
        QVERIFY(w->drawnRuns(9).isEmpty());                   // Power2
        QVERIFY(!w->drawnRuns(0).isEmpty());
        child<QCheckBox>("Check_SetPoint")->setChecked(false);
        child<QCheckBox>("Check_HeaterPower")->setChecked(false);
        QCOMPARE(w->shownSeries(), (QList<int>{0, 2, 3}));
        QCOMPARE(w->csvHeaders(w->shownSeries()),
                 (QStringList{QStringLiteral("PV1 (degC)"), QStringLiteral("PV3 (degC)"),
                              QStringLiteral("PV4 (degC)")}));
        QVERIFY(w->drawnRuns(4).isEmpty());
        // The readout reads only what is drawn.
        const QString text = w->readoutAt(t + 4000);
        QVERIFY2(text.contains(QStringLiteral("PV1 24 \u00b0C")), qPrintable(text));
        QVERIFY(!text.contains(QStringLiteral("PV2")));
        QVERIFY(!text.contains(QStringLiteral("SP1")));
        child<QCheckBox>("Check_HeaterPower")->setChecked(true);
        QVERIFY2(w->readoutAt(t + 4000).contains(QStringLiteral("Power1 76%")),
                 qPrintable(w->readoutAt(t + 4000)));
    }

    void spanPauseAndReadout() {
        make(TemperatureTrendLayout());
        const qint64 t = now();
        // Five minutes of polls, a second apart, ending now.
        for (int i = 0; i < 300; ++i)
            w->addPollAt(t - (299 - i) * 1000, i, temperatures(i, 250, 100 - i / 3.0));
        w->setSpan(TrendWindow::OneMinute);
        w->redraw();
        QVERIFY(w->viewEnd() - w->viewStart() == 60'000);
        QVERIFY(w->viewEnd() >= t);
        const auto [first, last] = w->shownRows();
        QVERIFY(last - first >= 59 && last - first <= 62);
        QCOMPARE(last, 300);
        // The axis follows what is shown: the last minute's process values only.
        QValueAxis* left = axisOf(w, Qt::AlignLeft);
        QVERIFY2(left->min() >= 200 && left->min() <= 240,
                 qPrintable(QString::number(left->min())));
        QVERIFY(left->max() >= 299 && left->max() <= 340);
        QValueAxis* right = axisOf(w, Qt::AlignRight);
        QCOMPARE(right->min(), 0.0);
        QCOMPARE(right->max(), 100.0);

        w->setSpan(TrendWindow::All);
        w->redraw();
        QCOMPARE(w->shownRows().first, 0);
        QVERIFY(axisOf(w, Qt::AlignLeft)->min() <= 0);

        // Paused: the picture holds while polls are still recorded.
        child<QPushButton>("Cmd_Pause")->click();
        QVERIFY(w->paused());
        QCOMPARE(child<QPushButton>("Cmd_Pause")->text(), QStringLiteral("Resume"));
        const qint64 end = w->viewEnd();
        const auto before = w->drawnRuns(0);
        w->addPoll(300, temperatures(900, 250, 0));
        w->redraw();
        QCOMPARE(w->store().size(), 301);
        QCOMPARE(w->viewEnd(), end);
        QCOMPARE(w->drawnRuns(0), before);
        child<QPushButton>("Cmd_Pause")->click();
        QVERIFY(!w->paused());
        w->redraw();
        QCOMPARE(w->drawnRuns(0).last().last().y(), 900.0);

        // The readout: the sample's time, then each series with its unit.
        const QString text = w->readoutAt(t - 299'000);
        const QString time =
            QDateTime::fromMSecsSinceEpoch(t - 299'000).toString(QStringLiteral("HH:mm:ss.zzz"));
        QCOMPARE(text.section(QStringLiteral("   "), 0, 0), time);
        QCOMPARE(text.section(QStringLiteral("   "), 1, 1), QStringLiteral("PV1 0 \u00b0C"));
        QCOMPARE(text.section(QStringLiteral("   "), 5, 5), QStringLiteral("SP1 250 \u00b0C"));
        QCOMPARE(text.section(QStringLiteral("   "), 9, 9), QStringLiteral("Power1 100%"));
        // Not hovering, it shows the latest poll.
        QVERIFY(child<QLabel>("Label_Readout")->text().contains(QStringLiteral("PV1 900 \u00b0C")));
    }

    void readoutFollowsTheMouse() {
        make(AnalogTrendLayout());
        w->resize(900, 500);
        const qint64 t = now();
        for (int i = 0; i < 60; ++i)
            w->addPollAt(t - (59 - i) * 1000, i, std::vector<double>(8, i / 10.0));
        w->setSpan(TrendWindow::OneMinute);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        w->redraw();
        auto* view = child<QChartView>("Chart");
        const QRectF plot = w->chart()->plotArea();
        QVERIFY(plot.width() > 100);
        // The middle of the plot: some sample near half a minute back.
        const QPoint at = view->mapFromScene(plot.center());
        QTest::mouseMove(view->viewport(), at);
        QTRY_VERIFY(child<QLabel>("Label_Readout")->text().contains(QStringLiteral("AIN1 ")));
        const QString text = child<QLabel>("Label_Readout")->text();
        QVERIFY2(!text.startsWith(QStringLiteral("Latest")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral(" V")));
        // Outside the plot: back to the latest values.
        QTest::mouseMove(view->viewport(), QPoint(2, 2));
        QTRY_VERIFY(child<QLabel>("Label_Readout")->text().startsWith(QStringLiteral("Latest")));
        QVERIFY(child<QLabel>("Label_Readout")->text().contains(QStringLiteral("AIN8 5.9 V")));
    }

    void axisScalesItself() {
        make(AnalogTrendLayout());
        const qint64 t = now() - 1000;
        // A flat 2.5 V reference still gets an axis around it.
        w->addPollAt(t, 0, std::vector<double>(8, 2.5));
        w->redraw();
        QValueAxis* left = axisOf(w, Qt::AlignLeft);
        QVERIFY(left->min() < 2.5 && left->max() > 2.5);
        QVERIFY(left->max() - left->min() < 1);
        // A swing to -10.24 V takes the axis with it.
        w->addPollAt(t + 500, 1, std::vector<double>(8, -10.24));
        w->redraw();
        QVERIFY(left->min() <= -10.24 && left->max() >= 2.5);
        QVERIFY(left->max() - left->min() < 20);
    }

    void exportsThroughTheFileDialog() {
        make(TemperatureTrendLayout());
        const qint64 t = now() - 3000;
        for (int i = 0; i < 3; ++i)
            w->addPollAt(t + i * 1000, i, temperatures(30 + i, 120, 90));
        w->setSpan(TrendWindow::OneMinute);
        w->redraw();
        QTemporaryDir dir;

        child<QPushButton>("Cmd_ExportCsv")->click();
        auto* dialog = w->findChild<QFileDialog*>(QStringLiteral("dlgExportCsv"));
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
        // Nothing is written until the user chooses a file.
        QSignalSpy finished(w, &TrendWindow::exportFinished);
        const QString csv = dir.filePath(QStringLiteral("loops.csv"));
        dialog->selectFile(csv);
        static_cast<QDialog*>(dialog)->accept();
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.first().at(0).toBool(), true);
        const QStringList lines = qimtest::ReadCsvLines(csv);
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], QStringLiteral("Time,PV1 (degC),PV2 (degC),PV3 (degC),PV4 (degC),"
                                          "SP1 (degC),SP2 (degC),SP3 (degC),SP4 (degC),"
                                          "Power1 (%),Power2 (%),Power3 (%),Power4 (%)"));
        QCOMPARE(lines[3], QDateTime::fromMSecsSinceEpoch(t + 2000).toString(
                               QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) +
                               QStringLiteral(",32,33,34,35,120,121,122,123,90,91,92,93"));
        QVERIFY(child<QLabel>("Label_Status")->text().contains(QStringLiteral("3 rows")));

        // A dialog closed without a choice writes nothing.
        child<QPushButton>("Cmd_ExportCsv")->click();
        dialog = w->findChild<QFileDialog*>(QStringLiteral("dlgExportCsv"));
        QVERIFY(dialog);
        dialog->reject();
        QTest::qWait(50);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("loops.csv")});

        child<QPushButton>("Cmd_ExportPng")->click();
        dialog = w->findChild<QFileDialog*>(QStringLiteral("dlgExportPng"));
        QVERIFY(dialog);
        const QString png = dir.filePath(QStringLiteral("loops.png"));
        finished.clear();
        dialog->selectFile(png);
        static_cast<QDialog*>(dialog)->accept();
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(finished.first().at(0).toBool());
        QImage image(png);
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), child<QChartView>("Chart")->size());
    }

    void closesWithAnExportUnderway() {
        make(AnalogTrendLayout());
        for (int i = 0; i < 20'000; ++i)
            w->addPollAt(now() - 20'000 + i, i, std::vector<double>(8, i));
        w->setSpan(TrendWindow::All);
        w->redraw();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("half.csv"));
        w->exportCsv(path);
        QVERIFY(!child<QPushButton>("Cmd_ExportCsv")->isEnabled());
        QPointer<TrendWindow> gone = w;
        w->close(); // deletes itself
        w = nullptr;
        QTRY_VERIFY(gone.isNull());
        QTest::qWait(50);
        // The file never appears half written.
        QVERIFY(!QFile::exists(path));
    }
};

QIM_TEST_MAIN(TestTrendWindow)
#include "tst_trendwindow.moc"
