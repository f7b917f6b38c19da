// The link benchmarks: transaction rate of our link, libmodbus and a raw POSIX
// floor against one shared responder, over Modbus TCP and Modbus RTU on a pty
// at 115200 8N2; and the CPU a transaction costs while it waits for a silent
// slave. Over TCP our link keeps its connection; libmodbus runs both ways,
// one connection for all requests and a new connection per request, on
// loopback and again in a network namespace of its own where closed
// connections hold their local ports as on a real network. Prints tables
// with medians.
//
//   qimbench [--runs N] [--count N]
//   qimbench --profile tcp|rtu|libmodbus-tcp|libmodbus-tcp-each|libmodbus-rtu|floor-tcp [--count N]
//       one client alone, for a profiler

#include "Bytes.h"
#include "Link.h"
#include "PortNames.h"
#include "SerialTransport.h"
#include "TcpBench.h"
#include "TcpTransport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace qim;

namespace {

using bench::libmodbusTcpRate;
using bench::measure;
using bench::Responder;
using bench::Result;

double secondsOf(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e9;
}

// ---------------------------------------------------------------- our link

// Each run on a link of its own, so it starts without a connection.
Result oursRate(const LinkSettings& settings, int count) {
    SerialTransport serial;
    TcpTransport tcp;
    Link link(serial, tcp);
    link.setSettings(settings);
    int done = 0, bad = 0;
    QEventLoop loop;
    std::function<void()> next = [&] {
        const Requester who{nullptr, [&](const Reply& r) {
                                bad += r.hasRegisters(12) ? 0 : 1;
                                if (++done == count)
                                    loop.quit();
                                else
                                    next();
                            }};
        link.readInputRegisters(1, 0, 12, who);
    };
    const Result r = measure(count, [&] {
        next();
        loop.exec();
    });
    if (bad)
        std::fprintf(stderr, "ours: %d bad replies\n", bad);
    return r;
}

// ---------------------------------------------------------------- libmodbus

Result libmodbusRtuRate(const QString& device, int count) {
    uint16_t regs[12];
    int bad = 0;
    modbus_t* ctx = modbus_new_rtu(device.toLocal8Bit().constData(), 115200, 'N', 8, 2);
    modbus_set_slave(ctx, 1);
    modbus_connect(ctx);
    const Result r = measure(count, [&] {
        for (int i = 0; i < count; ++i)
            if (modbus_read_input_registers(ctx, 0, 12, regs) != 12)
                ++bad;
    });
    modbus_close(ctx);
    modbus_free(ctx);
    if (bad)
        std::fprintf(stderr, "libmodbus rtu: %d failures\n", bad);
    return r;
}

// ---------------------------------------------------------------- raw floor

bool readExactly(int fd, uint8_t* buf, size_t n) {
    size_t got = 0;
    while (got < n) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0)
            return false;
        const ssize_t r = ::read(fd, buf + got, n - got);
        if (r <= 0)
            return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

// Plain blocking calls over one connection.
Result floorTcpRate(quint16 port, int count) {
    const uint8_t req[12] = {0, 1, 0, 0, 0, 6, 1, 4, 0, 0, 0, 12};
    uint8_t buf[64];
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int bad = 0;
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        bad = count;
    const Result r = measure(count, [&] {
        for (int i = 0; i < count && bad < count; ++i)
            if (::write(s, req, sizeof req) != sizeof req || !readExactly(s, buf, 33))
                ++bad;
    });
    ::close(s);
    if (bad)
        std::fprintf(stderr, "floor tcp: %d failures\n", bad);
    return r;
}

Result floorRtuRate(const QString& device, int count) {
    const int fd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, B115200);
    t.c_cflag |= CSTOPB | CLOCAL | CREAD;
    tcsetattr(fd, TCSANOW, &t);
    const uint8_t req[8] = {1, 4, 0, 0, 0, 12, 0xF0, 0x0F};
    uint8_t buf[64];
    int bad = 0;
    const Result r = measure(count, [&] {
        for (int i = 0; i < count; ++i)
            if (::write(fd, req, sizeof req) != sizeof req || !readExactly(fd, buf, 29))
                ++bad;
    });
    ::close(fd);
    if (bad)
        std::fprintf(stderr, "floor rtu: %d failures\n", bad);
    return r;
}

// ---------------------------------------------------------------- waiting

// CPU seconds and wall seconds of one transaction that waits 1 s for a silent slave.
std::pair<double, double> waitingCost(const LinkSettings& settings) {
    SerialTransport serial;
    TcpTransport tcp;
    Link link(serial, tcp);
    link.setSettings(settings);
    QEventLoop loop;
    const double c0 = bench::cpuSeconds();
    QElapsedTimer t;
    t.start();
    const Requester who{nullptr, [&](const Reply&) { loop.quit(); }};
    link.readInputRegisters(1, 0, 12, who);
    loop.exec();
    return {bench::cpuSeconds() - c0, secondsOf(t)};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Per client: the rates and CPU costs of every run.
struct Runs {
    std::vector<double> rate, cpu;
    void add(const Result& r) {
        rate.push_back(r.rate);
        cpu.push_back(r.cpuUs);
    }
};

// The TCP clients' medians: ours, libmodbus over one connection, libmodbus
// with a new connection per request, the floor over one connection.
struct TcpFigures {
    double rate[4] = {};
    double cpu[4] = {};
    QByteArray line() const {
        QByteArray out = "tcp";
        for (int i = 0; i < 4; ++i)
            out += ' ' + QByteArray::number(rate[i], 'f', 0) + ' ' +
                   QByteArray::number(cpu[i], 'f', 1);
        return out;
    }
    static std::optional<TcpFigures> parse(const QByteArray& text) {
        const auto f = bench::taggedLine(text, "tcp", 8);
        if (!f)
            return std::nullopt;
        TcpFigures t;
        for (int i = 0; i < 4; ++i) {
            t.rate[i] = (*f)[2 * i].toDouble();
            t.cpu[i] = (*f)[1 + 2 * i].toDouble();
        }
        return t;
    }
};

TcpFigures tcpRuns(const LinkSettings& settings, int runs, int count) {
    const quint16 port = settings.port;
    Runs c[4];
    oursRate(settings, 50); // warm up
    for (int r = 0; r < runs; ++r) {
        c[0].add(oursRate(settings, count));
        c[1].add(libmodbusTcpRate(port, count, true));
        c[2].add(libmodbusTcpRate(port, count, false));
        c[3].add(floorTcpRate(port, count));
    }
    TcpFigures t;
    for (int i = 0; i < 4; ++i) {
        t.rate[i] = median(c[i].rate);
        t.cpu[i] = median(c[i].cpu);
    }
    return t;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    int runs = 5, count = 1000;
    QString profile;      // "tcp" or "rtu": only our link, for a profiler
    bool tcpOnly = false; // only the TCP figures, as one line (the run in the namespace)
    const QStringList a = app.arguments();
    for (int i = 1; i < a.size(); ++i) {
        if (a[i] == QLatin1String("--tcp-only"))
            tcpOnly = true;
        if (i + 1 >= a.size())
            break;
        if (a[i] == QLatin1String("--runs"))
            runs = a[i + 1].toInt();
        if (a[i] == QLatin1String("--count"))
            count = a[i + 1].toInt();
        if (a[i] == QLatin1String("--profile"))
            profile = a[i + 1];
    }

    Responder tcpSlave, rtuSlave;
    if (!tcpSlave.start(QStringLiteral("tcp")) ||
        (!tcpOnly && !rtuSlave.start(QStringLiteral("rtu")))) {
        std::fprintf(stderr, "qimbench: the responder did not start\n");
        return 1;
    }
    const quint16 port = static_cast<quint16>(tcpSlave.address.toUInt());
    if (!tcpOnly)
        PortNames::publish(1, rtuSlave.address);
    LinkSettings rtu;
    rtu.comPort = 1;
    rtu.speed = LineSpeed::Baud115200;
    LinkSettings tcp = rtu;
    tcp.transport = LinkSettings::Transport::Tcp;
    tcp.host = QStringLiteral("127.0.0.1");
    tcp.port = port;

    if (tcpOnly) {
        std::printf("%s\n", tcpRuns(tcp, runs, count).line().constData());
        return 0;
    }
    if (profile.startsWith(QLatin1String("libmodbus-tcp"))) {
        const Result r =
            libmodbusTcpRate(port, count, profile != QLatin1String("libmodbus-tcp-each"));
        std::printf("%.0f tx/s, %.1f us CPU per tx\n", r.rate, r.cpuUs);
        return 0;
    }
    if (profile == QLatin1String("libmodbus-rtu")) {
        const Result r = libmodbusRtuRate(rtuSlave.address, count);
        std::printf("%.0f tx/s, %.1f us CPU per tx\n", r.rate, r.cpuUs);
        return 0;
    }
    if (profile == QLatin1String("floor-tcp")) {
        const Result r = floorTcpRate(port, count);
        std::printf("%.0f tx/s, %.1f us CPU per tx\n", r.rate, r.cpuUs);
        return 0;
    }
    if (!profile.isEmpty()) {
        const Result r = oursRate(profile == QLatin1String("tcp") ? tcp : rtu, count);
        std::printf("%.0f tx/s, %.1f us CPU per tx\n", r.rate, r.cpuUs);
        return 0;
    }

    Runs oR, lR, fR;
    oursRate(rtu, 50); // warm up
    for (int r = 0; r < runs; ++r) {
        lR.add(libmodbusRtuRate(rtuSlave.address, count));
        fR.add(floorRtuRate(rtuSlave.address, count));
        oR.add(oursRate(rtu, count));
    }
    const TcpFigures lo = tcpRuns(tcp, runs, count);
    QString whyNot;
    std::optional<TcpFigures> ns;
    if (const auto out = bench::runInNamespace({QStringLiteral("--tcp-only"),
                                                QStringLiteral("--runs"), QString::number(runs),
                                                QStringLiteral("--count"), QString::number(count)},
                                               whyNot)) {
        ns = TcpFigures::parse(*out);
        if (!ns)
            whyNot = QStringLiteral("no figures came back");
    }

    std::printf("\nTransaction rate, read of 12 input registers (function 4), "
                "median of %d runs x %d requests\n\n",
                runs, count);
    std::printf("| link | ours (tx/s) | libmodbus, one connection (tx/s) | libmodbus, connection "
                "per request (tx/s) | raw floor (tx/s) | ours / libmodbus one connection | floor "
                "time / our time |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    const auto tcpRow = [](const char* name, const TcpFigures& t) {
        std::printf("| %s | %.0f | %.0f | %.0f | %.0f | %.2f | %.2f |\n", name, t.rate[0],
                    t.rate[1], t.rate[2], t.rate[3], t.rate[0] / t.rate[1], t.rate[0] / t.rate[3]);
    };
    tcpRow("Modbus TCP, loopback", lo);
    if (ns)
        tcpRow("Modbus TCP, network namespace, tcp_tw_reuse=0", *ns);
    const double om = median(oR.rate), lm = median(lR.rate), fm = median(fR.rate);
    std::printf("| Modbus RTU, pty 115200 8N2 | %.0f | %.0f | - | %.0f | %.2f | %.2f |\n", om, lm,
                fm, om / lm, om / fm);
    if (!ns)
        std::printf("\nnamespace: skipped (%s)\n", qPrintable(whyNot));
    std::printf("\n(TCP: our link and the floor keep one connection; the goal is ours >= "
                "libmodbus over one connection. RTU: the goal is floor time / our time >= "
                "1/1.3 = 0.77)\n");
    std::printf("\nClient CPU time per transaction (user + system, microseconds, median): what a "
                "client costs, whatever else the machine is doing\n\n");
    std::printf("| link | ours | libmodbus, one connection | libmodbus, connection per request "
                "| raw floor |\n|---|---|---|---|---|\n");
    std::printf("| TCP, loopback | %.1f | %.1f | %.1f | %.1f |\n", lo.cpu[0], lo.cpu[1], lo.cpu[2],
                lo.cpu[3]);
    if (ns)
        std::printf("| TCP, namespace | %.1f | %.1f | %.1f | %.1f |\n", ns->cpu[0], ns->cpu[1],
                    ns->cpu[2], ns->cpu[3]);
    std::printf("| RTU | %.1f | %.1f | - | %.1f |\n", median(oR.cpu), median(lR.cpu),
                median(fR.cpu));

    // CPU while a transaction waits 1 s for a slave that never answers.
    Responder silentTcp, silentRtu;
    silentTcp.start(QStringLiteral("tcp"), true);
    silentRtu.start(QStringLiteral("rtu"), true);
    tcp.port = static_cast<quint16>(silentTcp.address.toUInt());
    PortNames::publish(1, silentRtu.address);
    const auto [cs, ws] = waitingCost(rtu);
    const auto [ct, wt] = waitingCost(tcp);
    std::printf("\nCPU while one transaction waits for a silent slave\n\n");
    std::printf("| link | wall (s) | CPU (ms) | share of one core |\n|---|---|---|---|\n");
    std::printf("| RTU | %.3f | %.2f | %.3f %% |\n", ws, cs * 1000, 100 * cs / ws);
    std::printf("| TCP | %.3f | %.2f | %.3f %% |\n", wt, ct * 1000, 100 * ct / wt);
    return 0;
}
