// The simulator's framing on the wire, below the program's link: RTU bytes
// in pieces and behind noise, Modbus TCP streams, and the qimsim program.
#include "PortNames.h"
#include "SimTestKit.h"

#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace qim;
using namespace simkit;
using qimtest::WithCrc;

namespace {
QByteArray Hex(const char* h) {
    return QByteArray::fromHex(h);
}

// The program's end of the pty, opened raw, as a serial port would be.
class LineEnd {
public:
    explicit LineEnd(const QString& device) {
        m_fd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        tcgetattr(m_fd, &t);
        cfmakeraw(&t);
        tcsetattr(m_fd, TCSANOW, &t);
    }
    ~LineEnd() { ::close(m_fd); }
    bool ok() const { return m_fd >= 0; }
    void send(const QByteArray& b) {
        [[maybe_unused]] const ssize_t n = ::write(m_fd, b.constData(), b.size());
    }
    // Everything that arrives within ms.
    QByteArray collect(int ms) {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            QTest::qWait(10);
            char buf[256];
            for (ssize_t n; (n = ::read(m_fd, buf, sizeof buf)) > 0;)
                got.append(buf, static_cast<int>(n));
        }
        return got;
    }

private:
    int m_fd = -1;
};

QByteArray TcpFrame(int tid, int unit, const QByteArray& pdu, int protocol = 0) {
    QByteArray f;
    for (const int v : {tid, protocol, static_cast<int>(pdu.size()) + 1}) {
        f.append(static_cast<char>(v >> 8));
        f.append(static_cast<char>(v & 0xFF));
    }
    f.append(static_cast<char>(unit));
    return f + pdu;
}
} // namespace

class TestSimWire : public QObject {
    Q_OBJECT
    qimsim::Bus bus;
    std::unique_ptr<LineEnd> line;

    // Reply frames on the RTU line: each must check, and there must be `frames` of them.
    void expectRtuReplies(const QByteArray& got, QList<int> lengths) {
        int at = 0;
        for (const int len : lengths) {
            QVERIFY2(got.size() >= at + len, got.toHex().constData());
            QVERIFY2(CheckCRC(got.mid(at, len), len), got.toHex().constData());
            at += len;
        }
        QCOMPARE(got.size(), at);
    }

private Q_SLOTS:
    void initTestCase() {
        bus.addDemoModules();
        QVERIFY(bus.listenTcp(QHostAddress::LocalHost, 0));
        QVERIFY(bus.openPty(0));
        line = std::make_unique<LineEnd>(bus.ptyDevice());
        QVERIFY(line->ok());
    }
    void init() {
        line->collect(0);
        bus.clearRequests();
    }

    void rtuRequestFedByteByByteIsAnsweredOnce() {
        for (const QByteArray& frame : {WithCrc(Hex("0111")), WithCrc(Hex("0110000000010200AA")),
                                        WithCrc(Hex("04040000000C"))}) {
            bus.clearRequests();
            for (const char c : frame) {
                line->send(QByteArray(1, c));
                QTest::qWait(3);
            }
            const QByteArray got = line->collect(300);
            const int expected = frame[1] == 17 ? 23 : frame[1] == 16 ? 8 : 29;
            expectRtuReplies(got, {expected});
            QCOMPARE(bus.requests().size(), 1);
            QCOMPARE(bus.requests()[0].raw, frame);
        }
        QCOMPARE(bus.module(1)->holding(0).value(), 0xAA);
    }

    void rtuNoiseBeforeAFrame_data() {
        QTest::addColumn<QByteArray>("noise");
        QTest::addColumn<bool>("apart");
        for (const bool apart : {false, true}) {
            const char* how = apart ? "apart" : "together";
            QTest::addRow("stray bytes, %s", how) << Hex("FF0013") << apart;
            QTest::addRow("a cut frame, %s", how) << Hex("0103000001") << apart;
            // Looks like the head of a long write: must not swallow the real frame.
            QTest::addRow("a long claim, %s", how) << Hex("01100000004080") << apart;
            QTest::addRow("a frame with a bad CRC, %s", how)
                << WithCrc(Hex("010300000001")).replace(7, 1, "\x00") << apart;
        }
    }
    void rtuNoiseBeforeAFrame() {
        QFETCH(QByteArray, noise);
        QFETCH(bool, apart);
        const QByteArray frame = WithCrc(Hex("010300000001"));
        if (apart) {
            line->send(noise);
            QTest::qWait(5);
            line->send(frame);
        } else {
            line->send(noise + frame);
        }
        expectRtuReplies(line->collect(300), {7});
        QCOMPARE(bus.requests().size(), 1);
        QCOMPARE(bus.requests()[0].function, 3);
    }

    void rtuLineCarriesOtherUnitsAndUnknownFunctions() {
        // A request for nobody, then one for a module: one reply.
        line->send(WithCrc(Hex("4D0300000001")) + WithCrc(Hex("020300000001")));
        expectRtuReplies(line->collect(300), {7});
        // A function whose length only the silence tells: exception 1 after the gap.
        line->send(WithCrc(Hex("0141AABBCC")));
        const QByteArray got = line->collect(300);
        expectRtuReplies(got, {5});
        QCOMPARE(got.left(3), Hex("01C101"));
        QCOMPARE(bus.requests().size(), 3);
    }

    void tcpRequestInSegments() {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, bus.tcpPort());
        QTRY_COMPARE(s.state(), QAbstractSocket::ConnectedState);
        const QByteArray frame = TcpFrame(9, 1, Hex("11"));
        s.write(frame.left(3));
        s.flush();
        QTest::qWait(50);
        s.write(frame.mid(3, 3));
        s.flush();
        QTest::qWait(50);
        QCOMPARE(s.bytesAvailable(), 0);
        s.write(frame.mid(6));
        QTRY_COMPARE(s.bytesAvailable(), 27);
        const QByteArray reply = s.readAll();
        QCOMPARE(reply.left(7), Hex("00090000001501"));
        QCOMPARE(reply[9], char(10));
    }

    void tcpSeveralRequestsOnOneConnectionInOrder() {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, bus.tcpPort());
        QTRY_COMPARE(s.state(), QAbstractSocket::ConnectedState);
        // Three frames in one segment, the MBAP length telling where each ends;
        // the one for a missing unit gets no answer and holds nothing up.
        qimsim::Fault slow;
        slow.kind = qimsim::Fault::Delay;
        slow.delayMs = 100;
        slow.times = 1;
        bus.module(3)->setFault(4, slow);
        s.write(TcpFrame(1, 3, Hex("0400000002")) + TcpFrame(2, 77, Hex("0300000001")) +
                TcpFrame(3, 1, Hex("0300000001")));
        QTRY_COMPARE(s.bytesAvailable(), 13 + 11);
        const QByteArray got = s.readAll();
        QCOMPARE(got.left(2), Hex("0001")); // the delayed reply still comes first
        QCOMPARE(got.mid(13, 2), Hex("0003"));
        // Another connection at the same time is served on its own.
        QTcpSocket other;
        other.connectToHost(QHostAddress::LocalHost, bus.tcpPort());
        QTRY_COMPARE(other.state(), QAbstractSocket::ConnectedState);
        other.write(TcpFrame(5, 2, Hex("11")));
        s.write(TcpFrame(4, 2, Hex("11")));
        QTRY_COMPARE(other.bytesAvailable(), 27);
        QTRY_COMPARE(s.bytesAvailable(), 27);
        QCOMPARE(other.readAll().left(2), Hex("0005"));
        QCOMPARE(s.readAll().left(2), Hex("0004"));
        QList<int> tids;
        for (const auto& r : bus.requests())
            tids << r.transactionId;
        QCOMPARE(tids.size(), 5);
        QCOMPARE(tids.mid(0, 3), (QList<int>{1, 2, 3}));
    }

    void tcpFramesThatAreNotModbusEndTheConnection() {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, bus.tcpPort());
        QTRY_COMPARE(s.state(), QAbstractSocket::ConnectedState);
        s.write(TcpFrame(1, 1, Hex("11"), 7)); // protocol 7
        QTRY_COMPARE(s.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(bus.requests().isEmpty());
    }

    void randomBytesDoNoHarm() {
        QRandomGenerator rng(20240611);
        const auto noise = [&rng](int n) {
            QByteArray b(n, '\0');
            for (char& c : b)
                c = static_cast<char>(rng.bounded(256));
            return b;
        };
        // Straight into the bus: every model, every function code, any length.
        bus.addModule(200, 40);
        for (int i = 0; i < 20000; ++i) {
            QByteArray pdu = noise(rng.bounded(1, 40));
            if (i % 2)
                pdu[0] = static_cast<char>(rng.bounded(1, 18));
            bus.handle(static_cast<uint8_t>(rng.bounded(0, 6) == 5 ? 200 : rng.bounded(0, 5)), pdu);
        }
        // On the lines: afterwards a good request is answered as ever.
        for (int i = 0; i < 50; ++i)
            line->send(noise(rng.bounded(1, 64)));
        line->collect(100);
        line->send(WithCrc(Hex("0111")));
        QCOMPARE(line->collect(300).size(), 23);
        for (int i = 0; i < 20; ++i) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, bus.tcpPort());
            QTRY_COMPARE(s.state(), QAbstractSocket::ConnectedState);
            // A frame-shaped header with a random body, then plain noise.
            s.write(TcpFrame(i, rng.bounded(256), noise(rng.bounded(1, 200))) + noise(100));
            QTest::qWait(5);
        }
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, bus.tcpPort());
        QTRY_COMPARE(s.state(), QAbstractSocket::ConnectedState);
        s.write(TcpFrame(1, 1, Hex("11")));
        QTRY_COMPARE(s.bytesAvailable(), 27);
        bus.removeModule(200);
    }

    void theProgramServesAndCleansUp() {
        QProcess help;
        help.start(QStringLiteral(QIMSIM_PATH), {QStringLiteral("--help")});
        QTRY_COMPARE(help.state(), QProcess::NotRunning);
        QCOMPARE(help.exitCode(), 0);
        const QString usage = QString::fromLocal8Bit(help.readAllStandardOutput());
        for (const char* option : {"--tcp-address", "--tcp-port", "--no-tcp", "--com", "--serial",
                                   "--no-serial", "--speed", "--verbose", "busfile"})
            QVERIFY2(usage.contains(QLatin1String(option)), option);

        QProcess bad;
        bad.start(QStringLiteral(QIMSIM_PATH), {QStringLiteral("--speed"), QStringLiteral("0")});
        QTRY_COMPARE(bad.state(), QProcess::NotRunning);
        QCOMPARE(bad.exitCode(), 2);
        QVERIFY(bad.readAllStandardError().contains("--speed"));

        QProcess sim;
        sim.start(QStringLiteral(QIMSIM_PATH),
                  {QStringLiteral("--tcp-port"), QStringLiteral("0"), QStringLiteral("--com"),
                   QStringLiteral("7"), QStringLiteral("--verbose")});
        QString out;
        QTRY_VERIFY((out += QString::fromLocal8Bit(sim.readAllStandardOutput()))
                        .contains(QLatin1String("COM7")));
        const QString entry = PortNames::PortFolder() + QStringLiteral("/COM7");
        QVERIFY(QFileInfo(entry).isSymLink());
        const int at = out.indexOf(QLatin1String(" port ")) + 6;
        const int port = out.mid(at, out.indexOf(QLatin1Char('\n'), at) - at).toInt();
        QVERIFY(port > 0);

        // The demo bus over both transports at once.
        UseTransport(bus, true, 1000);
        General::ServerPort = port;
        Reply r = Identify(4);
        QCOMPARE(r.status, Status::Ok);
        QCOMPARE(r.byteAt(3), 30);
        UseTransport(bus, false, 1000);
        General::ComPortIndex = 6;
        r = Identify(1);
        QCOMPARE(r.status, Status::Ok);
        QCOMPARE(r.byteAt(3), 10);
        Link::instance().reset();
        QTRY_VERIFY((out += QString::fromLocal8Bit(sim.readAllStandardOutput()))
                        .contains(QLatin1String("RTU unit 1 fn 17")));
        QVERIFY(out.contains(QLatin1String("unit 4 fn 17")));

        sim.terminate(); // SIGTERM
        QTRY_COMPARE(sim.state(), QProcess::NotRunning);
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(!QFileInfo(entry).isSymLink());
    }
};

QIM_TEST_GUILESS_MAIN(TestSimWire)
#include "tst_simwire.moc"
