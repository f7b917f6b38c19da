// The serial engine over a pty pair, with the test playing the module.
#include "Link.h"
#include "TestSupport.h"

#include <QTest>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace qim;
using namespace qimtest;

namespace {
QByteArray hex(const char* h) {
    return QByteArray::fromHex(h);
}
QByteArray threeRegisters() {
    return withCrc(hex("010306000A000B000C"));
}
} // namespace

class TestSerial : public QObject {
    Q_OBJECT
    std::unique_ptr<PtySlave> slave;
    MessageLog* log = nullptr;
    QList<Chunk> answer;
    std::unique_ptr<Link> link;
    Outcome read(uint8_t unit = 1, int16_t count = 1) {
        return await([&](Requester r) { link->readHoldingRegisters(unit, 0, count, r); });
    }

private Q_SLOTS:
    void init() {
        link = std::make_unique<RealLink>();
        log = new MessageLog(*link);
        configure(*link, [&](LinkSettings& s) { s.serialTimeoutMs = 400; });
        answer.clear();
        slave = std::make_unique<PtySlave>([this](const QByteArray&) { return answer; });
        QVERIFY(slave->publishAs(2));
    }
    void cleanup() {
        delete log;
        link.reset();
        slave.reset();
    }

    // The modules talk 8N2 at the chosen speed; a pty carries any framing, so
    // look at what the link set on the line itself. The port stays open
    // between transactions; the connection test opens it and closes it again.
    void lineIs8N2AtTheChosenSpeed_data() {
        QTest::addColumn<LineSpeed>("chosen");
        QTest::addColumn<int>("speed");
        QTest::newRow("9600") << LineSpeed::Baud9600 << int(B9600);
        QTest::newRow("19200") << LineSpeed::Baud19200 << int(B19200);
        QTest::newRow("57600") << LineSpeed::Baud57600 << int(B57600);
        QTest::newRow("115200") << LineSpeed::Baud115200 << int(B115200);
    }
    void lineIs8N2AtTheChosenSpeed() {
        QFETCH(LineSpeed, chosen);
        QFETCH(int, speed);
        configure(*link, [&](LinkSettings& s) { s.speed = chosen; });
        QCOMPARE(await([this](Requester r) { link->testConnection(r); }).reply.status, 255);
        QVERIFY(!link->serialPortOpen());
        answer = {{threeRegisters()}};
        QCOMPARE(read(1, 3).reply.status, 255);
        QVERIFY(link->serialPortOpen());
        const int fd = ::open(qPrintable(slave->device()), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        termios t{};
        const int got = ::tcgetattr(fd, &t);
        ::close(fd);
        QCOMPARE(got, 0);
        QCOMPARE(int(t.c_cflag & CSIZE), int(CS8));
        QVERIFY2(t.c_cflag & CSTOPB, "two stop bits");
        QVERIFY2(!(t.c_cflag & PARENB), "no parity");
        QCOMPARE(int(cfgetospeed(&t)), speed);
    }

    // Only the expected byte count, or a whole exception of the unit asked,
    // ends the wait before the timeout (then far off). A whole frame of
    // another unit or to another function (a late reply to an earlier
    // request) before it is dropped and the wait goes on. Each reply comes in
    // two pieces; the requester gets it without its CRC.
    void repliesAndTheirStatus_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("atTimeout");
        QTest::newRow("good, early") << threeRegisters() << 255 << false;
        QTest::newRow("exception, early") << hex("018302C0F1") << 2 << false;
        QTest::newRow("one byte too many") << threeRegisters() + QByteArray(1, '\0') << 253 << true;
        QByteArray bad = threeRegisters();
        bad[3] = '\x7F';
        QTest::newRow("wrong crc, early") << bad << 254 << false;
        QTest::newRow("silence") << QByteArray() << 253 << true;
        QTest::newRow("five bytes without exception bit") << withCrc(hex("010300")) << 253 << true;
        QTest::newRow("another unit's, our length")
            << withCrc(hex("020308000A000B000C")) << 253 << true;
        for (const char* other : {"020306000A000B000C", "0104020005", "028302",
                                  "021112010101010101010101010101010101010101"})
            QTest::addRow("after %s", other)
                << withCrc(hex(other)) + threeRegisters() << 255 << false;
    }
    void repliesAndTheirStatus() {
        QFETCH(QByteArray, reply);
        QFETCH(int, status);
        QFETCH(bool, atTimeout);
        if (!reply.isEmpty())
            answer = {{reply.left(4)}, {reply.mid(4), 50}};
        if (!atTimeout)
            configure(*link, [&](LinkSettings& s) { s.serialTimeoutMs = 60'000; });
        const Outcome o = read(1, 3);
        QCOMPARE(slave->requests.value(0), hex("01030000000305CB"));
        QCOMPARE(o.reply.status, status);
        const QByteArray frame = status == 255 ? threeRegisters() : reply;
        QCOMPARE(o.reply.bytes, frame.left(frame.size() - 2));
        QVERIFY(!atTimeout || o.elapsedMs >= 380); // timers run up to 5% early
        QCOMPARE(o.reply.hasRegisters(3), status == 255);
        QVERIFY(log->texts.isEmpty());
    }

    // A unit that timed out may still be answering: its next request waits
    // until the line has been quiet for a timeout, the late reply dropped,
    // while another unit's request goes at once. A new link clears what
    // waits on the port before its first request.
    void lateReplyIsNotTheNextOnes() {
        configure(*link, [&](LinkSettings& s) { s.serialTimeoutMs = 1000; });
        int asked = 0;
        bool late = false; // the late reply has been written
        QList<bool> lateWhenAsked;
        slave->script = [&](const QByteArray& rq) -> QList<Chunk> {
            lateWhenAsked << late;
            if (++asked == 1 || asked == 4) {
                late = false;
                QTimer::singleShot(1300, this,
                                   [&] { QTimer::singleShot(0, this, [&] { late = true; }); });
                return {{withCrc(hex("0103020005")), 1300}};
            }
            return {{withCrc(rq.left(1) + hex("03020009")), rq[0] == 2 ? 0 : 600}};
        };
        QCOMPARE(read(1).reply.status, 253);
        QCOMPARE(read(2).reply.status, 255);
        QCOMPARE(read(1).reply.reg(0).value_or(0), 9);
        QCOMPARE(lateWhenAsked, (QList<bool>{false, false, true}));
        // The port closes with the link; the late reply waits on it.
        QCOMPARE(read(1).reply.status, 253);
        link = std::make_unique<RealLink>();
        QTRY_VERIFY(late);
        QCOMPARE(read(1).reply.reg(0).value_or(0), 9);
    }

    // Bytes nobody asked for (noise, another master) that come after a reply
    // in step, while the line is idle or while the connection test has the
    // port closed, are not the start of the next reply.
    void strayBytesBetweenTransactionsAreDropped_data() {
        QTest::addColumn<bool>("portClosed");
        QTest::newRow("port open") << false;
        QTest::newRow("port closed by the connection test") << true;
    }
    void strayBytesBetweenTransactionsAreDropped() {
        QFETCH(bool, portClosed);
        answer = {{withCrc(hex("0103020005"))}};
        QCOMPARE(read().reply.status, 255);
        if (portClosed)
            QCOMPARE(await([this](Requester r) { link->testConnection(r); }).reply.status, 255);
        slave->send(hex("FF00"));
        QCOMPARE(slave->sent, 2);
        QTest::qWait(50); // an open port's notifier sees the noise

        answer = {{withCrc(hex("0103020009"))}};
        const Outcome o = read();
        QCOMPARE(o.reply.status, 255);
        QCOMPARE(o.reply.reg(0).value_or(0), 9);
    }

    // A port that is not there: never published (COM31), or the adapter
    // pulled while the port is open, before the next request is written or
    // during the wait for its reply. The transaction ends at once (the
    // timeout is far off), and so does every request after it, each saying why.
    void portNotThere_data() {
        QTest::addColumn<int>("when");
        QTest::newRow("never there") << 0;
        QTest::newRow("gone before the write") << 1;
        QTest::newRow("gone during the wait") << 2;
    }
    void portNotThere() {
        QFETCH(int, when);
        configure(*link, [&](LinkSettings& s) {
            s.serialTimeoutMs = 60'000;
            s.comPort = when == 0 ? 31 : 2;
        });
        answer = {{withCrc(hex("0103020005"))}};
        if (when > 0)
            QCOMPARE(read().reply.status, 255);
        answer = {};
        if (when == 1)
            slave->vanish();
        else if (when == 2)
            QTimer::singleShot(100, slave.get(), [this] { slave->vanish(); });
        QCOMPARE(read().reply.status, 252);
        QVERIFY(!link->serialPortOpen());
        QCOMPARE(await([this](Requester r) { link->testConnection(r); }).reply.status, 252);
        const QString gone = QStringLiteral(" The Comm Port you have selected is not available in "
                                            "your computer or being used by another program.");
        QCOMPARE(log->texts, (QStringList{gone, gone}));
    }
};

QIM_TEST_GUILESS_MAIN(TestSerial)
#include "tst_serial.moc"
