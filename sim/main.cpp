// qimsim: serves an emulated bus of QIM modules over Modbus TCP and over a
// Modbus RTU pty (or a serial device) until SIGINT or SIGTERM.
#include "LinkSettings.h"
#include "PortNames.h"
#include "SimBus.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// The signals are blocked and read from a signalfd on the event loop, which
// quits: the bus is torn down (and its COMn entry removed) by ordinary
// destructors, and no handler needs state of its own.
void quitOnSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, sig);
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0)
        return;
    const int fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0) {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    auto* n = new QSocketNotifier(fd, QSocketNotifier::Read, qApp);
    QObject::connect(n, &QSocketNotifier::activated, qApp, [n] {
        n->setEnabled(false);
        QCoreApplication::quit();
    });
}

int fail(const QString& text, int code = 1) {
    std::fprintf(stderr, "qimsim: %s\n", qPrintable(text));
    return code;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qimsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QIM_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("An emulated bus of QIM modules for QIMTool: a Modbus TCP server and a "
                       "Modbus RTU slave on a pty published as a COM port, serving the same "
                       "modules at once.\n\nWithout a bus file it serves the demo bus: QIM-K520 "
                       "at address 1, QIM-K530 at 2, QIM-M640 at 3, QIM-P750 at 4."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("busfile"),
                                 QStringLiteral("A JSON bus file (format in the README)."),
                                 QStringLiteral("[busfile]"));
    const QCommandLineOption tcpAddress(QStringLiteral("tcp-address"),
                                        QStringLiteral("Listen for Modbus TCP on <address> "
                                                       "(default 127.0.0.1)."),
                                        QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption tcpPort(QStringLiteral("tcp-port"),
                                     QStringLiteral("Modbus TCP port (default 1502; 0 picks a "
                                                    "free one)."),
                                     QStringLiteral("port"), QStringLiteral("1502"));
    const QCommandLineOption noTcp(QStringLiteral("no-tcp"),
                                   QStringLiteral("Serve no Modbus TCP."));
    const QCommandLineOption closeAfter(
        QStringLiteral("tcp-close-after"),
        QStringLiteral("Close each Modbus TCP connection after <n> replies, as many gateways "
                       "do (1: one request per connection; default 0: keep it)."),
        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption idleClose(
        QStringLiteral("tcp-idle-close"),
        QStringLiteral("Close a Modbus TCP connection idle for <ms> milliseconds (default 0: "
                       "never)."),
        QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption com(QStringLiteral("com"),
                                 QStringLiteral("Publish the pty as COM<n>, 1 to 32 (default 2); "
                                                "0 publishes nothing."),
                                 QStringLiteral("n"), QStringLiteral("2"));
    const QCommandLineOption serial(QStringLiteral("serial"),
                                    QStringLiteral("Serve Modbus RTU on serial <device> at 8N2 "
                                                   "instead of a pty."),
                                    QStringLiteral("device"));
    const QCommandLineOption baud(
        QStringLiteral("baud"),
        QStringLiteral("Line speed of --serial: %1 (default 19200).").arg(qim::lineSpeedList()),
        QStringLiteral("rate"), QStringLiteral("19200"));
    const QCommandLineOption noSerial(QStringLiteral("no-serial"),
                                      QStringLiteral("Serve no Modbus RTU."));
    const QCommandLineOption speed(QStringLiteral("speed"),
                                   QStringLiteral("Run simulated time <factor> times faster "
                                                  "(default 1)."),
                                   QStringLiteral("factor"));
    const QCommandLineOption verbose(QStringList{QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Print one line per request."));
    parser.addOptions({tcpAddress, tcpPort, noTcp, closeAfter, idleClose, com, serial, baud,
                       noSerial, speed, verbose});
    parser.process(app);

    const QStringList files = parser.positionalArguments();
    if (files.size() > 1)
        return fail(QStringLiteral("give at most one bus file"), 2);
    const QHostAddress address(parser.value(tcpAddress));
    if (address.isNull())
        return fail(QStringLiteral("--tcp-address: \"%1\" is not an IP address")
                        .arg(parser.value(tcpAddress)),
                    2);
    bool ok = false;
    const uint port = parser.value(tcpPort).toUInt(&ok);
    if (!ok || port > 65535)
        return fail(QStringLiteral("--tcp-port must be a number from 0 to 65535"), 2);
    qimsim::TcpServing serving;
    serving.closeAfterReplies = parser.value(closeAfter).toInt(&ok);
    if (!ok || serving.closeAfterReplies < 0)
        return fail(QStringLiteral("--tcp-close-after must be a whole number from 0 up"), 2);
    serving.idleCloseMs = parser.value(idleClose).toInt(&ok);
    if (!ok || serving.idleCloseMs < 0)
        return fail(QStringLiteral("--tcp-idle-close must be a whole number from 0 up"), 2);
    const int comNumber = parser.value(com).toInt(&ok);
    if (!ok || comNumber < 0 || comNumber > qim::PortNames::PortCount)
        return fail(QStringLiteral("--com must be a number from 0 to 32"), 2);
    const int baudRate = parser.value(baud).toInt(&ok);
    if (!ok || !qim::lineSpeedOf(baudRate))
        return fail(QStringLiteral("--baud must be %1").arg(qim::lineSpeedList()), 2);
    std::optional<double> factor;
    if (parser.isSet(speed)) {
        factor = parser.value(speed).toDouble(&ok);
        if (!ok || *factor <= 0)
            return fail(QStringLiteral("--speed must be a number above 0"), 2);
    }
    if (parser.isSet(noTcp) && parser.isSet(noSerial))
        return fail(QStringLiteral("--no-tcp and --no-serial leave nothing to serve"), 2);

    qimsim::Bus bus;
    bus.verbose = parser.isSet(verbose);
    bus.setTcpServing(serving);
    if (files.isEmpty()) {
        bus.addDemoModules();
    } else {
        QString error;
        double fileSpeed = 1;
        if (!qimsim::loadBusFile(files.first(), bus, &error, &fileSpeed))
            return fail(error, 2);
        if (!factor)
            factor = fileSpeed;
    }
    bus.setSpeedFactor(factor.value_or(1));

    quitOnSignals();

    std::printf("qimsim %s\n", qPrintable(QCoreApplication::applicationVersion()));
    for (qimsim::Module* m : bus.modules())
        std::printf("  address %3d: device code %d%s\n", m->address(), m->deviceCode(),
                    m->deviceCode() == 10   ? " (QIM-K520)"
                    : m->deviceCode() == 11 ? " (QIM-K530)"
                    : m->deviceCode() == 20 ? " (QIM-M640)"
                    : m->deviceCode() == 30 ? " (QIM-P750)"
                                            : " (unknown model)");
    if (!parser.isSet(noTcp)) {
        if (!bus.listenTcp(address, static_cast<quint16>(port)))
            return fail(bus.tcpError());
        std::printf("Modbus TCP on %s port %u\n", qPrintable(address.toString()), bus.tcpPort());
    }
    if (!parser.isSet(noSerial)) {
        if (parser.isSet(serial)) {
            if (!bus.openSerial(parser.value(serial), baudRate))
                return fail(bus.serialError());
            std::printf("Modbus RTU on %s at %d baud, 8N2\n", qPrintable(parser.value(serial)),
                        baudRate);
        } else {
            if (!bus.openPty(comNumber))
                return fail(bus.serialError());
            if (comNumber > 0)
                std::printf("Modbus RTU on %s, published as %s (%s)\n", qPrintable(bus.ptyDevice()),
                            qPrintable(qim::PortNames::comName(comNumber)),
                            qPrintable(qim::PortNames::portFolder()));
            else
                std::printf("Modbus RTU on %s\n", qPrintable(bus.ptyDevice()));
        }
    }
    if (bus.speedFactor() != 1)
        std::printf("simulated time runs %g times faster\n", bus.speedFactor());
    std::fflush(stdout);

    const int rc = app.exec();
    bus.stop();
    return rc;
}
