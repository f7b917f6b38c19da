// The link benchmarks: transaction rate of our link, libmodbus and a raw POSIX
// floor against one shared responder, over Modbus TCP (a fresh connection per
// request) and Modbus RTU on a pty at 115200 8N2; and the CPU a transaction
// costs while it waits for a silent slave. Prints one table with medians.
//
//   qimbench [--runs N] [--count N]

#include "General.h"
#include "Link.h"
#include "PortNames.h"
#include "Requests.h"

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
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace qim;

namespace {

struct Responder {
    QProcess proc;
    QString address; // TCP port or pty device
    bool start(const QString& kind, bool silent = false) {
        QStringList args{kind};
        if (silent)
            args << QStringLiteral("silent");
        proc.start(QCoreApplication::applicationDirPath() + QStringLiteral("/qimbench-responder"),
                   args);
        if (!proc.waitForStarted() || !proc.waitForReadyRead(5000))
            return false;
        address = QString::fromLocal8Bit(proc.readLine()).trimmed();
        return !address.isEmpty();
    }
    ~Responder() {
        proc.kill();
        proc.waitForFinished();
    }
};

double secondsOf(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e9;
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A client's run: transactions per second, and the client's own CPU time
// (user + system) per transaction, which the load of other processes does
// not change.
struct Result {
    double rate = 0;
    double cpuUs = 0;
};

// Times `body`, which makes `count` transactions.
template <class Body> Result measure(int count, Body body) {
    const double c0 = cpuSeconds();
    QElapsedTimer t;
    t.start();
    body();
    const double s = secondsOf(t);
    return {count / s, (cpuSeconds() - c0) * 1e6 / count};
}

// ---------------------------------------------------------------- our link

Result oursRate(bool tcp, int count) {
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
        tcp ? TCPReadInputRegisters(1, 0, 12, who) : ReadInputRegisters(1, 0, 12, who);
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

Result libmodbusTcpRate(quint16 port, int count) {
    uint16_t regs[12];
    int bad = 0;
    const Result r = measure(count, [&] {
        for (int i = 0; i < count; ++i) {
            modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
            modbus_set_slave(ctx, 1);
            if (modbus_connect(ctx) != 0 || modbus_read_input_registers(ctx, 0, 12, regs) != 12)
                ++bad;
            modbus_close(ctx);
            modbus_free(ctx);
        }
    });
    if (bad)
        std::fprintf(stderr, "libmodbus tcp: %d failures\n", bad);
    return r;
}

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

Result floorTcpRate(quint16 port, int count) {
    const uint8_t req[12] = {0, 1, 0, 0, 0, 6, 1, 4, 0, 0, 0, 12};
    uint8_t buf[64];
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int bad = 0;
    const Result r = measure(count, [&] {
        for (int i = 0; i < count; ++i) {
            const int s = ::socket(AF_INET, SOCK_STREAM, 0);
            const int one = 1;
            ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
                ::write(s, req, sizeof req) != sizeof req || !readExactly(s, buf, 33))
                ++bad;
            ::close(s);
        }
    });
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
std::pair<double, double> waitingCost(bool tcp) {
    QEventLoop loop;
    const double c0 = cpuSeconds();
    QElapsedTimer t;
    t.start();
    const Requester who{nullptr, [&](const Reply&) { loop.quit(); }};
    tcp ? TCPReadInputRegisters(1, 0, 12, who) : ReadInputRegisters(1, 0, 12, who);
    loop.exec();
    return {cpuSeconds() - c0, secondsOf(t)};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    qputenv("QIMTOOL_LOOPBACK_ONLY", "1"); // the link refuses any host but loopback
    QCoreApplication app(argc, argv);
    int runs = 5, count = 1000;
    QString profile; // "tcp" or "rtu": only our link, for a profiler
    const QStringList a = app.arguments();
    for (int i = 1; i + 1 < a.size(); ++i) {
        if (a[i] == QLatin1String("--runs"))
            runs = a[i + 1].toInt();
        if (a[i] == QLatin1String("--count"))
            count = a[i + 1].toInt();
        if (a[i] == QLatin1String("--profile"))
            profile = a[i + 1];
    }

    Responder tcpSlave, rtuSlave;
    if (!tcpSlave.start(QStringLiteral("tcp")) || !rtuSlave.start(QStringLiteral("rtu"))) {
        std::fprintf(stderr, "qimbench: the responder did not start\n");
        return 1;
    }
    const quint16 port = static_cast<quint16>(tcpSlave.address.toUInt());
    PortNames::Publish(1, rtuSlave.address);
    AssignLinkDefaults();
    General::IPAddress = QStringLiteral("127.0.0.1");
    General::ServerPort = port;
    General::ComPortIndex = 0;
    General::BaudIndex = 3;

    if (profile == QLatin1String("libmodbus-tcp")) {
        const Result r = libmodbusTcpRate(port, count);
        std::printf("%.0f tx/s, %.1f us CPU per tx\n", r.rate, r.cpuUs);
        return 0;
    }
    if (profile == QLatin1String("floor-tcp")) {
        const Result r = floorTcpRate(port, count);
        std::printf("%.0f tx/s, %.1f us CPU per tx\n", r.rate, r.cpuUs);
        return 0;
    }
    if (!profile.isEmpty()) {
        const Result r = oursRate(profile == QLatin1String("tcp"), count);
        std::printf("%.0f tx/s, %.1f us CPU per tx\n", r.rate, r.cpuUs);
        Link::instance().reset();
        return 0;
    }

    // Per client and link: the rates and CPU costs of every run.
    struct Runs {
        std::vector<double> rate, cpu;
        void add(const Result& r) {
            rate.push_back(r.rate);
            cpu.push_back(r.cpuUs);
        }
    };
    Runs oT, oR, lT, lR, fT, fR;
    oursRate(true, 50); // warm up both paths once
    oursRate(false, 50);
    for (int r = 0; r < runs; ++r) {
        oT.add(oursRate(true, count));
        lT.add(libmodbusTcpRate(port, count));
        fT.add(floorTcpRate(port, count));
        Link::instance().reset(); // free the pty for the others
        lR.add(libmodbusRtuRate(rtuSlave.address, count));
        fR.add(floorRtuRate(rtuSlave.address, count));
        oR.add(oursRate(false, count));
    }
    Link::instance().reset();

    std::printf("\nTransaction rate, read of 12 input registers (function 4), "
                "median of %d runs x %d requests\n\n",
                runs, count);
    std::printf("| link | ours (tx/s) | libmodbus (tx/s) | raw floor (tx/s) | ours/libmodbus | "
                "floor time / ours time |\n");
    std::printf("|---|---|---|---|---|---|\n");
    const auto row = [](const char* name, const Runs& o, const Runs& l, const Runs& f) {
        const double om = median(o.rate), lm = median(l.rate), fm = median(f.rate);
        std::printf("| %s | %.0f | %.0f | %.0f | %.2f | %.2f |\n", name, om, lm, fm, om / lm,
                    om / fm);
    };
    row("Modbus TCP, new connection per request", oT, lT, fT);
    row("Modbus RTU, pty 115200 8N2", oR, lR, fR);
    std::printf("\n(our time per transaction is floor time / ratio; the goal is a ratio "
                ">= 1/1.3 = 0.77)\n");
    std::printf("\nClient CPU time per transaction (user + system, microseconds, median): what a "
                "client costs, whatever else the machine is doing\n\n");
    std::printf("| link | ours | libmodbus | raw floor |\n|---|---|---|---|\n");
    std::printf("| TCP | %.1f | %.1f | %.1f |\n", median(oT.cpu), median(lT.cpu), median(fT.cpu));
    std::printf("| RTU | %.1f | %.1f | %.1f |\n", median(oR.cpu), median(lR.cpu), median(fR.cpu));

    // CPU while a transaction waits 1 s for a slave that never answers.
    Responder silentTcp, silentRtu;
    silentTcp.start(QStringLiteral("tcp"), true);
    silentRtu.start(QStringLiteral("rtu"), true);
    General::ServerPort = static_cast<quint16>(silentTcp.address.toUInt());
    PortNames::Publish(1, silentRtu.address);
    General::SerialTimeout = 1000;
    General::TCPTimeout = 1000;
    const auto [cs, ws] = waitingCost(false);
    const auto [ct, wt] = waitingCost(true);
    std::printf("\nCPU while one transaction waits for a silent slave\n\n");
    std::printf("| link | wall (s) | CPU (ms) | share of one core |\n|---|---|---|---|\n");
    std::printf("| RTU | %.3f | %.2f | %.3f %% |\n", ws, cs * 1000, 100 * cs / ws);
    std::printf("| TCP | %.3f | %.2f | %.3f %% |\n", wt, ct * 1000, 100 * ct / wt);
    Link::instance().reset();
    return 0;
}
