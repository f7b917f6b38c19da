// The trend redraw benchmark: how long one redraw of a trend window takes
// with 100,000 samples per series on screen (span "All"): reducing the
// samples to the plot's width, handing the lines to the chart, and painting
// the chart. Runs offscreen unless a platform is chosen. Prints one table
// with the median and the worst of the runs, in wall time and in the CPU
// time of the thread that draws (the same on a quiet machine; on a busy
// one the wall time also holds the waits for a core). The goal is a total
// under 50 ms.
//
//   qimtrendbench [--runs N] [--samples N]

#include "MessagePresenter.h"
#include "Offscreen.h"
#include "TrendLayouts.h"
#include "TrendWindow.h"

#include <QApplication>
#include <QChartView>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

using namespace qim;

namespace {

struct Times {
    std::vector<double> reduce, paint, total, cpu;
};

double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}
double worst(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

// A trend window filled with `samples` rows ending now, 100 ms apart, with
// the ragged values of a real process (drift, noise, steps, a few gaps).
void fill(TrendWindow& w, int samples, int seriesCount) {
    std::vector<double> row(static_cast<size_t>(seriesCount));
    const qint64 end = QDateTime::currentMSecsSinceEpoch();
    uint32_t noise = 12345;
    int32_t poll = 0;
    for (int i = 0; i < samples; ++i) {
        for (int s = 0; s < seriesCount; ++s) {
            noise = noise * 1664525u + 1013904223u;
            const double jitter = double(noise >> 8) / double(1u << 24) - 0.5;
            row[static_cast<size_t>(s)] = std::round(20 + 10 * s + 40 * std::sin(i / 3000.0 + s) +
                                                     4 * jitter + ((i / 20000) % 2 ? 15 : 0));
        }
        // One poll in a thousand fails: a break in every line.
        poll += i % 1000 == 999 ? 2 : 1;
        w.addPollAt(end - qint64(samples - i) * 100, poll, row);
    }
}

Times measure(const TrendLayout& layout, int samples, int runs) {
    MessagePresenter presenter;
    TrendWindow w(layout, presenter);
    w.setAttribute(Qt::WA_DeleteOnClose, false);
    w.resize(1280, 720);
    w.show();
    (void)QTest::qWaitForWindowExposed(&w);
    fill(w, samples, static_cast<int>(layout.series.size()));
    w.setSpan(TrendWindow::All);
    w.setPaused(true); // the benchmark draws, not the window's own timer
    auto* view = w.findChild<QChartView*>(QStringLiteral("Chart"));
    QImage canvas(view->size(), QImage::Format_ARGB32_Premultiplied);
    w.redraw(); // the chart's first layout is not a redraw
    {
        QPainter p(&canvas);
        view->render(&p);
    }

    Times t;
    for (int r = 0; r < runs; ++r) {
        w.setPaused(false);
        w.setPaused(true);
        QElapsedTimer clock;
        const double cpu0 = threadCpuMs();
        clock.start();
        w.redraw();
        const double reduced = double(clock.nsecsElapsed()) / 1e6;
        canvas.fill(Qt::white);
        QPainter p(&canvas);
        view->render(&p);
        p.end();
        const double total = double(clock.nsecsElapsed()) / 1e6;
        t.cpu.push_back(threadCpuMs() - cpu0);
        t.reduce.push_back(reduced);
        t.paint.push_back(total - reduced);
        t.total.push_back(total);
    }
    return t;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir runtime;
    bench::prepareOffscreen(runtime);
    QApplication app(argc, argv);
    int runs = 20;
    int samples = 100000;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QStringLiteral("--runs"))
            runs = std::max(1, args[i + 1].toInt());
        else if (args[i] == QStringLiteral("--samples"))
            samples = std::max(2, args[i + 1].toInt());
    }

    std::printf("\nTrend redraw, %d samples per series, 1280 x 720 window, span All, %d runs "
                "(ms; goal: total under 50)\n",
                samples, runs);
    std::printf("%-26s %8s %8s %8s %8s %8s\n", "window", "reduce", "paint", "total", "worst",
                "cpu");
    const struct {
        const char* name;
        TrendLayout layout;
    } cases[] = {{"temperature (12 series)", temperatureTrendLayout()},
                 {"analog (8 series)", analogTrendLayout()}};
    bool met = true;
    for (const auto& c : cases) {
        const Times t = measure(c.layout, samples, runs);
        std::printf("%-26s %8.1f %8.1f %8.1f %8.1f %8.1f\n", c.name, median(t.reduce),
                    median(t.paint), median(t.total), worst(t.total), median(t.cpu));
        met = met && median(t.total) < 50.0;
    }
    double load[1] = {0};
    if (getloadavg(load, 1) == 1)
        std::printf("goal %s (load average %.1f on %d cores)\n", met ? "met" : "NOT met", load[0],
                    QThread::idealThreadCount());
    else
        std::printf("goal %s\n", met ? "met" : "NOT met");
    return 0;
}
