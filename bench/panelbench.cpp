// The program at rest and over a long run: CPU share of the whole program
// while the three panels poll the simulator at 100 ms, peak RSS with every
// window open and polling, and RSS after 1,000 and after 100,000 poll cycles
// at interval 0. The simulator runs as its own process, so only our side is
// measured. Then the temperature panel polling Modbus TCP at interval 0
// against the benchmarks' minimal responder, beside libmodbus making the same
// request over one connection and with a new connection per request: on
// loopback, and for --namespace-seconds (100) in a network namespace of its
// own where closed connections hold their local ports as on a real network,
// counting the sockets left in TIME_WAIT.
//
//   qimpanelbench [--seconds N] [--qimsim PATH] [--no-long-run]
//                 [--tcp-seconds N] [--namespace-seconds N]

#include "DeviceTable.h"
#include "Link.h"
#include "MainWindow.h"
#include "MessagePresenter.h"
#include "Offscreen.h"
#include "PollLoop.h"
#include "SerialTransport.h"
#include "TcpBench.h"
#include "TcpTransport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <sys/resource.h>

using namespace qim;

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A line of /proc/self/status in kB ("VmRSS", "VmHWM").
long statusKb(const char* key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray& l : lines)
        if (l.startsWith(key))
            return l.mid(static_cast<qsizetype>(qstrlen(key)) + 1)
                .trimmed()
                .split(' ')
                .value(0)
                .toLong();
    return -1;
}

void wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Opens the panel of the module at `address` as the user would from the main window.
QWidget* openPanel(MainWindow& main, uint8_t address, uint8_t code) {
    DeviceRecord module;
    module.address = address;
    module.code = code;
    main.openPanel(module);
    const QString name = code == 10   ? QStringLiteral("frmQIM_K520")
                         : code == 20 ? QStringLiteral("frmQIM_M640")
                                      : QStringLiteral("frmQIM_P750");
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name)
            return w;
    return nullptr;
}

LinkSettings tcpTo(quint16 port) {
    LinkSettings s;
    s.transport = LinkSettings::Transport::Tcp;
    s.host = QStringLiteral("127.0.0.1");
    s.port = port;
    return s;
}

void startPolling(QWidget* panel, const QString& interval) {
    panel->findChild<QLineEdit*>(QStringLiteral("TextScanTimer"))->setText(interval);
    panel->findChild<QPushButton*>(QStringLiteral("CmdScan"))->click();
}

void stopPolling(QWidget* panel) {
    panel->findChild<QPushButton*>(QStringLiteral("CmdStop"))->click();
}

PollLoop* loopOf(QWidget* panel) {
    return panel->findChild<PollLoop*>();
}

// The temperature panel polling at interval 0 for `seconds`, started again
// whenever its loop ends (it stops by itself after PollLimit cycles, or at
// a 252), sampling the sockets in TIME_WAIT every second.
struct PanelRun {
    double rate = 0;
    long polls = 0;
    long errors = 0; // cycles whose reply could not be shown
    int stops = 0;   // loops that ended before their limit: a failed connection
    int timeWaitMost = 0;
    double lmOne = 0, lmEach = 0; // libmodbus, one connection / one per request (tx/s)
    QByteArray line() const {
        return QByteArray("panel ") + QByteArray::number(rate, 'f', 0) + ' ' +
               QByteArray::number(polls) + ' ' + QByteArray::number(errors) + ' ' +
               QByteArray::number(stops) + ' ' + QByteArray::number(timeWaitMost) + ' ' +
               QByteArray::number(lmOne, 'f', 0) + ' ' + QByteArray::number(lmEach, 'f', 0);
    }
    static std::optional<PanelRun> parse(const QByteArray& text) {
        const auto f = bench::taggedLine(text, "panel", 7);
        if (!f)
            return std::nullopt;
        PanelRun r;
        r.rate = (*f)[0].toDouble();
        r.polls = (*f)[1].toLong();
        r.errors = (*f)[2].toLong();
        r.stops = (*f)[3].toInt();
        r.timeWaitMost = (*f)[4].toInt();
        r.lmOne = (*f)[5].toDouble();
        r.lmEach = (*f)[6].toDouble();
        return r;
    }
};

PanelRun panelAgainstResponder(Link& link, MainWindow& main, int seconds) {
    PanelRun r;
    bench::Responder responder;
    if (!responder.start(QStringLiteral("tcp"))) {
        std::fprintf(stderr, "qimpanelbench: the responder did not start\n");
        return r;
    }
    const quint16 port = static_cast<quint16>(responder.address.toUInt());
    link.setSettings(tcpTo(port));
    QWidget* p = openPanel(main, 4, 30);
    PollLoop* loop = loopOf(p);
    bool over = false;
    QEventLoop stopped;
    const QMetaObject::Connection restart = QObject::connect(loop, &PollLoop::finished, p, [&] {
        r.polls += loop->pollCount();
        r.errors += loop->errorCount();
        if (over) {
            stopped.quit();
            return;
        }
        if (loop->pollCount() < PollLoop::PollLimit)
            ++r.stops;
        QTimer::singleShot(0, p, [p] { startPolling(p, QStringLiteral("0")); });
    });
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] {
        r.timeWaitMost = std::max(r.timeWaitMost, bench::timeWaitCount(port));
    });
    sample.start(1000);
    QElapsedTimer t;
    t.start();
    startPolling(p, QStringLiteral("0"));
    wait(seconds * 1000);
    over = true;
    stopPolling(p);
    stopped.exec();
    QObject::disconnect(restart);
    r.rate = static_cast<double>(r.polls) / (static_cast<double>(t.elapsed()) / 1000.0);
    r.timeWaitMost = std::max(r.timeWaitMost, bench::timeWaitCount(port));
    p->close();
    link.closeAll();
    r.lmOne = bench::libmodbusTcpRate(port, 2000, true).rate;
    r.lmEach = bench::libmodbusTcpRate(port, 2000, false).rate;
    return r;
}

void printPanelTcp(Link& link, MainWindow& main, int seconds, int namespaceSeconds) {
    const PanelRun lo = panelAgainstResponder(link, main, seconds);
    QString whyNot;
    std::optional<PanelRun> ns;
    if (namespaceSeconds > 0) {
        if (const auto out = bench::runInNamespace(
                {QStringLiteral("--tcp-panel-only"), QString::number(namespaceSeconds)}, whyNot)) {
            ns = PanelRun::parse(*out);
            if (!ns)
                whyNot = QStringLiteral("no figures came back");
        }
    } else {
        whyNot = QStringLiteral("--namespace-seconds 0");
    }
    std::printf("\nThe temperature panel polling Modbus TCP at interval 0 (one read of 12 input "
                "registers per poll), beside libmodbus making the same request 2,000 times\n\n");
    std::printf("| where | panel (polls/s) | libmodbus, one connection (tx/s) | libmodbus, "
                "connection per request (tx/s) | panel / libmodbus per request | polls | "
                "errors | stopped by itself | most sockets in TIME_WAIT |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    const auto row = [](const QString& where, const PanelRun& r) {
        std::printf("| %s | %.0f | %.0f | %.0f | %.2f | %ld | %ld | %d | %d |\n", qPrintable(where),
                    r.rate, r.lmOne, r.lmEach, r.rate / r.lmEach, r.polls, r.errors, r.stops,
                    r.timeWaitMost);
    };
    row(QStringLiteral("loopback, %1 s").arg(seconds), lo);
    if (ns)
        row(QStringLiteral("network namespace, tcp_tw_reuse=0, %1 s").arg(namespaceSeconds), *ns);
    else
        std::printf("\nnamespace: skipped (%s)\n", qPrintable(whyNot));
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir runtime;
    bench::prepareOffscreen(runtime);
    QApplication app(argc, argv);
    int seconds = 30;
    int soakOnly = 0;    // --soak N: only N cycles at interval 0, for a profiler
    bool longRun = true; // --no-long-run: skip the 100,000 cycles
    int tcpSeconds = 10, namespaceSeconds = 100;
    int panelOnly =
        0; // --tcp-panel-only N: only the panel over TCP for N s (the run in the namespace)
    QString qimsim = QCoreApplication::applicationDirPath() + QStringLiteral("/../sim/qimsim");
    const QStringList a = app.arguments();
    for (int i = 1; i < a.size(); ++i) {
        if (a[i] == QLatin1String("--no-long-run"))
            longRun = false;
        if (i + 1 >= a.size())
            break;
        if (a[i] == QLatin1String("--seconds"))
            seconds = a[i + 1].toInt();
        if (a[i] == QLatin1String("--qimsim"))
            qimsim = a[i + 1];
        if (a[i] == QLatin1String("--soak"))
            soakOnly = a[i + 1].toInt();
        if (a[i] == QLatin1String("--tcp-seconds"))
            tcpSeconds = a[i + 1].toInt();
        if (a[i] == QLatin1String("--namespace-seconds"))
            namespaceSeconds = a[i + 1].toInt();
        if (a[i] == QLatin1String("--tcp-panel-only"))
            panelOnly = a[i + 1].toInt();
    }
    SerialTransport serial;
    TcpTransport tcp;
    Link link(serial, tcp);
    MessagePresenter presenter;
    QObject::connect(&link, &Link::message, &presenter, &MessagePresenter::show);
    if (panelOnly > 0) {
        MainWindow main(link, presenter);
        main.show();
        std::printf("%s\n", panelAgainstResponder(link, main, panelOnly).line().constData());
        return 0;
    }

    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(qimsim,
              {QStringLiteral("--no-serial"), QStringLiteral("--tcp-port"), QString::number(port)});
    if (!sim.waitForStarted() || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "qimpanelbench: qimsim did not start (%s)\n", qPrintable(qimsim));
        return 1;
    }
    wait(300);

    // The main window assigns the link defaults when it loads: aim the link
    // at the simulator only after that.
    MainWindow main(link, presenter);
    main.show();
    link.setSettings(tcpTo(port));

    if (soakOnly > 0) {
        QWidget* p = openPanel(main, 4, 30);
        PollLoop* loop = loopOf(p);
        QElapsedTimer t;
        t.start();
        startPolling(p, QStringLiteral("0"));
        for (int i = 0; i < PollLoop::PollLimit - soakOnly; ++i) // after Scan, which zeroes it
            loop->countPoll();
        QEventLoop done;
        QObject::connect(loop, &PollLoop::finished, &done, &QEventLoop::quit);
        done.exec();
        std::printf("%d cycles in %.2f s\n", soakOnly, static_cast<double>(t.elapsed()) / 1000.0);
        p->close();
        sim.terminate();
        sim.waitForFinished();
        return 0;
    }

    // 1. The three panels polling the demo bus at 100 ms.
    QWidget* discrete = openPanel(main, 1, 10);
    QWidget* analog = openPanel(main, 3, 20);
    QWidget* temperature = openPanel(main, 4, 30);
    for (QWidget* p : {discrete, analog, temperature})
        startPolling(p, QStringLiteral("100"));
    wait(2000); // settle
    const int polls0 = loopOf(temperature)->pollCount();
    const double c0 = cpuSeconds();
    QElapsedTimer t;
    t.start();
    wait(seconds * 1000);
    const double cpu = cpuSeconds() - c0;
    const double wall = static_cast<double>(t.elapsed()) / 1000.0;
    const int polls = loopOf(temperature)->pollCount() - polls0;

    // 2. Every window open and polling: the peak.
    main.openTraffic();
    for (const char* button : {"Cmd_ConfigReg", "Cmd_ControlReg", "Cmd_ControlLoop1"})
        temperature->findChild<QPushButton*>(QLatin1String(button))->click();
    wait(3000);
    const long peak = statusKb("VmHWM:");
    for (QWidget* p : {discrete, analog, temperature})
        stopPolling(p);
    wait(500);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != &main)
            w->close();
    // This driver runs outside app.exec(), where closed windows are not
    // deleted by themselves as they are in the program.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    wait(300);

    std::printf("\nThe program at rest and over a long run (Qt platform: %s)\n\n",
                qPrintable(QGuiApplication::platformName()));
    std::printf("| measure | value |\n|---|---|\n");
    std::printf("| CPU share, three panels polling at 100 ms for %.0f s | %.2f %% of one core |\n",
                wall, 100 * cpu / wall);
    std::printf("| temperature panel polls in that time | %d |\n", polls);
    std::printf("| peak RSS, every window open and polling | %.1f MB |\n", peak / 1024.0);
    if (!longRun) {
        sim.terminate();
        sim.waitForFinished();
        printPanelTcp(link, main, tcpSeconds, namespaceSeconds);
        return 0;
    }

    // 3. A long run at interval 0: RSS after 1,000 and after 100,000 cycles.
    QWidget* soak = openPanel(main, 4, 30);
    PollLoop* loop = loopOf(soak);
    long rss1k = -1, anon1k = -1;
    QElapsedTimer soakTime;
    soakTime.start();
    startPolling(soak, QStringLiteral("0"));
    QEventLoop done;
    QObject::connect(loop, &PollLoop::countsChanged, &done, [&] {
        // Counts are drawn once a frame: take the first look at or past 1,000.
        if (rss1k < 0 && loop->pollCount() >= 1000) {
            rss1k = statusKb("VmRSS:");
            anon1k = statusKb("RssAnon:");
        }
    });
    QObject::connect(loop, &PollLoop::finished, &done, &QEventLoop::quit);
    done.exec();
    const long rss100k = statusKb("VmRSS:");
    const long anon100k = statusKb("RssAnon:");
    const double soakSeconds = static_cast<double>(soakTime.elapsed()) / 1000.0;

    std::printf("| RSS after 1,000 poll cycles at interval 0 | %.1f MB |\n", rss1k / 1024.0);
    std::printf("| RSS after 100,000 poll cycles at interval 0 | %.1f MB (%+ld kB) |\n",
                rss100k / 1024.0, rss100k - rss1k);
    std::printf("| of which anonymous memory, after 1,000 / 100,000 | %.1f / %.1f MB (%+ld kB) |\n",
                anon1k / 1024.0, anon100k / 1024.0, anon100k - anon1k);
    std::printf("| 100,000 cycles at interval 0 took | %.1f s (%.0f polls/s, %d errors) |\n",
                soakSeconds, loop->pollCount() / soakSeconds, loop->errorCount());
    soak->close();
    sim.terminate();
    sim.waitForFinished();
    printPanelTcp(link, main, tcpSeconds, namespaceSeconds);
    return 0;
}
