#pragma once
// What the link and panel benchmarks share for Modbus TCP: the responder
// process, timing with the client's own CPU time, libmodbus as the yardstick
// (one connection for all requests, or a new one per request), the count of
// sockets in TIME_WAIT, and a second run of the benchmark in a network
// namespace of its own, where loopback behaves like a real network.

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <modbus.h>
#include <optional>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qim::bench {

// Started with fork and exec rather than QProcess: a QProcess keeps its
// pipes and process descriptor in the client's event loop, and every poll
// of our link would then watch them too, which the link in the program does
// not pay.
struct Responder {
    pid_t pid = -1;
    QString address; // TCP port or pty device
    bool start(const QString& kind, bool silent = false) {
        const QByteArray program =
            QFile::encodeName(QCoreApplication::applicationDirPath() + "/qimbench-responder");
        const QByteArray k = kind.toLocal8Bit();
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return false;
        pid = ::fork();
        if (pid == 0) {
            // Ends with the benchmark, even when the benchmark is killed.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::dup2(out[1], STDOUT_FILENO);
            const char* argv[] = {program.constData(), k.constData(), silent ? "silent" : nullptr,
                                  nullptr};
            ::execv(program.constData(), const_cast<char* const*>(argv));
            ::_exit(127);
        }
        ::close(out[1]);
        QByteArray line;
        char c = 0;
        while (pid > 0 && ::read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        ::close(out[0]);
        address = QString::fromLocal8Bit(line).trimmed();
        return !address.isEmpty();
    }
    ~Responder() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

inline double cpuSeconds() {
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
    const double s = static_cast<double>(t.nsecsElapsed()) / 1e9;
    return {count / s, (cpuSeconds() - c0) * 1e6 / count};
}

// libmodbus reading 12 input registers `count` times: over one connection,
// or connecting, reading and closing for each request.
inline Result libmodbusTcpRate(quint16 port, int count, bool persistent) {
    uint16_t regs[12];
    int bad = 0;
    modbus_t* kept = nullptr;
    const Result r = measure(count, [&] {
        for (int i = 0; i < count; ++i) {
            if (!kept) {
                kept = modbus_new_tcp("127.0.0.1", port);
                modbus_set_slave(kept, 1);
                if (modbus_connect(kept) != 0)
                    ++bad;
            }
            if (modbus_read_input_registers(kept, 0, 12, regs) != 12)
                ++bad;
            if (!persistent) {
                modbus_close(kept);
                modbus_free(kept);
                kept = nullptr;
            }
        }
    });
    if (kept) {
        modbus_close(kept);
        modbus_free(kept);
    }
    if (bad)
        std::fprintf(stderr, "libmodbus tcp: %d failures\n", bad);
    return r;
}

// Sockets in TIME_WAIT to or from `port`, in this process's network namespace.
inline int timeWaitCount(quint16 port) {
    const QByteArray hexPort = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    int n = 0;
    for (const char* table : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
        QFile f(QString::fromLatin1(table));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> lines = f.readAll().split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i) {
            // sl local_address rem_address st ...
            const QList<QByteArray> fields = lines[i].simplified().split(' ');
            if (fields.size() > 3 && fields[3] == "06" &&
                (fields[1].endsWith(hexPort) || fields[2].endsWith(hexPort)))
                ++n;
        }
    }
    return n;
}

// The fields of the line that a child run printed as "<tag> <fields...>",
// when it has exactly `fields` of them after the tag.
inline std::optional<QList<QByteArray>> taggedLine(const QByteArray& text, const QByteArray& tag,
                                                   int fields) {
    for (const QByteArray& l : text.split('\n')) {
        QList<QByteArray> f = l.trimmed().split(' ');
        if (f.size() == fields + 1 && f[0] == tag) {
            f.removeFirst();
            return f;
        }
    }
    return std::nullopt;
}

// Runs this program again with `args` in a network namespace of its own:
// loopback up, tcp_tw_reuse off, so every closed connection holds its local
// port for a minute as on a real network. Returns what it printed, or
// nothing and why.
inline std::optional<QByteArray> runInNamespace(const QStringList& args, QString& whyNot) {
    QProcess probe;
    probe.start(QStringLiteral("unshare"), {QStringLiteral("-n"), QStringLiteral("true")});
    if (!probe.waitForStarted()) {
        whyNot = QStringLiteral("no unshare command");
        return std::nullopt;
    }
    probe.waitForFinished();
    if (probe.exitCode() != 0) {
        whyNot = QStringLiteral("unshare -n is not permitted here (it needs root)");
        return std::nullopt;
    }
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QStringLiteral("unshare"),
                QStringList{QStringLiteral("-n"), QStringLiteral("sh"), QStringLiteral("-c"),
                            QStringLiteral("ip link set lo up && sysctl -qw "
                                           "net.ipv4.tcp_tw_reuse=0 && exec \"$0\" \"$@\""),
                            QCoreApplication::applicationFilePath()} +
                    args);
    child.waitForStarted();
    child.waitForFinished(-1);
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
        whyNot =
            QStringLiteral("the run in the namespace failed (exit code %1)").arg(child.exitCode());
        return std::nullopt;
    }
    return child.readAllStandardOutput();
}

} // namespace qim::bench
