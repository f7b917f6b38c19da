// The serial engine over a pty pair, with the test playing the module.
#include "General.h"
#include "Link.h"
#include "Requests.h"
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
    return WithCrc(hex("010306000A000B000C"));
}
} // namespace

class TestSerial : public QObject {
    Q_OBJECT
    std::unique_ptr<PtySlave> slave;
    MessageLog* log = nullptr;
    QList<Chunk> answer;

private Q_SLOTS:
    void initTestCase() { log = new MessageLog; }
    void cleanupTestCase() { delete log; }
    void init() {
        Link::instance().reset();
        AssignLinkDefaults();
        General::SerialTimeout = 400;
        answer.clear();
        slave = std::make_unique<PtySlave>([this](const QByteArray&) { return answer; });
        QVERIFY(slave->publishAs(2));
        log->texts.clear();
    }
    void cleanup() {
        Link::instance().reset();
        slave.reset();
    }

    void goodReplyEndsTheWaitEarly() {
        General::SerialTimeout = 3000;
        answer = {{threeRegisters()}};
        const Outcome o = Await([](Requester r) { ReadHoldingRegisters(1, 0, 3, r); });
        QVERIFY(o.reply);
        QCOMPARE(o.reply->status, 255);
        QVERIFY2(o.elapsedMs < 2000, "the eleventh byte must end the wait");
        QCOMPARE(General::CommStatus, 255);
        QCOMPARE(General::RxCount, 11);
        QCOMPARE(General::RxBuffer, threeRegisters());
        QCOMPARE(o.reply->reg(2).value(), 0x000C);
        QVERIFY(!o.reply->reg(3)); // not in the reply: not readable
        QCOMPARE(slave->requests.value(0), hex("01030000000305CB"));
    }

    // The modules talk 8N2 at the chosen speed; a pty carries any framing, so
    // look at what the link set on the line itself.
    void lineIs8N2AtTheChosenSpeed_data() {
        QTest::addColumn<int>("baudIndex");
        QTest::addColumn<int>("speed");
        QTest::newRow("9600") << 0 << int(B9600);
        QTest::newRow("19200") << 1 << int(B19200);
        QTest::newRow("57600") << 2 << int(B57600);
        QTest::newRow("115200") << 3 << int(B115200);
    }
    void lineIs8N2AtTheChosenSpeed() {
        QFETCH(int, baudIndex);
        QFETCH(int, speed);
        General::BaudIndex = static_cast<int16_t>(baudIndex);
        answer = {{threeRegisters()}};
        const Outcome o = Await([](Requester r) { ReadHoldingRegisters(1, 0, 3, r); });
        QVERIFY(o.reply);
        QCOMPARE(o.reply->status, 255);
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

    void replyInPiecesStillEndsEarly() {
        General::SerialTimeout = 3000;
        const QByteArray r = threeRegisters();
        answer = {{r.left(4)}, {r.mid(4), 50}};
        const Outcome o = Await([](Requester rq) { ReadHoldingRegisters(1, 0, 3, rq); });
        QCOMPARE(o.reply->status, 255);
        QVERIFY(o.elapsedMs < 2000);
    }

    void failuresAndTheirStatus_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("rxCount");
        QTest::addColumn<bool>("atTimeout");
        QTest::newRow("exception at the timeout") << hex("018302C0F1") << 2 << 5 << true;
        QTest::newRow("one byte too many")
            << threeRegisters() + QByteArray(1, '\0') << 253 << 12 << true;
        QByteArray bad = threeRegisters();
        bad[3] = '\x7F';
        QTest::newRow("wrong crc, early") << bad << 254 << 11 << false;
        QTest::newRow("silence") << QByteArray() << 253 << 0 << true;
        QTest::newRow("five bytes without exception bit")
            << WithCrc(hex("010300")) << 253 << 5 << true;
    }
    void failuresAndTheirStatus() {
        QFETCH(QByteArray, reply);
        QFETCH(int, status);
        QFETCH(int, rxCount);
        QFETCH(bool, atTimeout);
        if (!reply.isEmpty())
            answer = {{reply}};
        const Outcome o = Await([](Requester r) { ReadHoldingRegisters(1, 0, 3, r); });
        QCOMPARE(o.reply->status, status);
        QCOMPARE(General::CommStatus, status);
        QCOMPARE(General::RxCount, rxCount);
        // Only the expected byte count ends the wait before the timeout.
        QCOMPARE(o.elapsedMs >= General::SerialTimeout - 20, atTimeout);
        QVERIFY(!o.reply->hasRegisters(3));
        QVERIFY(log->texts.isEmpty());
    }

    void portThatDoesNotExist() {
        General::ComPortIndex = 30; // COM31: nothing published, nothing enumerated
        General::Connected = true;
        const Outcome o = Await([](Requester r) { OpenSerialPort(r); });
        QCOMPARE(o.reply->status, 252);
        QCOMPARE(General::Connected, false);
        QCOMPARE(General::CommStatus, 252);
        QCOMPARE(log->texts,
                 QStringList{QStringLiteral(" The Comm Port you have selected is not available in "
                                            "your computer or being used by another program.")});

        log->texts.clear();
        const Outcome t = Await([](Requester r) { ReadHoldingRegisters(1, 0, 1, r); });
        QCOMPARE(t.reply->status, 252);
        QCOMPARE(log->texts.size(), 1);
    }

    void openSerialPortProvesAndCloses() {
        const Outcome o = Await([](Requester r) { OpenSerialPort(r); });
        QCOMPARE(o.reply->status, 255);
        QCOMPARE(General::Connected, true);
        QVERIFY(!Link::instance().serialPortOpen());
        answer = {{WithCrc(hex("0103020005"))}};
        QCOMPARE(Await([](Requester r) { ReadHoldingRegisters(1, 0, 1, r); }).reply->status, 255);
        QVERIFY(Link::instance().serialPortOpen()); // stays open between transactions
    }

    void staleBytesAreDiscardedBeforeTheNextRequest() {
        General::SerialTimeout = 300;
        // The module answers the first request late, after the timeout...
        answer = {{WithCrc(hex("0103020005")), 500}};
        QCOMPARE(Await([](Requester r) { ReadHoldingRegisters(1, 0, 1, r); }).reply->status, 253);
        QTest::qWait(350);
        // ...and that late reply must not be taken for the next one's.
        answer = {{WithCrc(hex("0103020009"))}};
        const Outcome o = Await([](Requester r) { ReadHoldingRegisters(1, 0, 1, r); });
        QCOMPARE(o.reply->status, 255);
        QCOMPARE(o.reply->reg(0).value(), 9);
    }

    // The adapter is pulled while the port is open: whether the request is
    // still being written or its reply awaited, the transaction ends at once.
    void portVanishesMidTransaction_data() {
        QTest::addColumn<bool>("beforeTheWrite");
        QTest::newRow("during the wait") << false;
        QTest::newRow("before the request is written") << true;
    }
    void portVanishesMidTransaction() {
        QFETCH(bool, beforeTheWrite);
        General::SerialTimeout = 2000;
        answer = {{WithCrc(hex("0103020005"))}};
        QCOMPARE(Await([](Requester r) { ReadHoldingRegisters(1, 0, 1, r); }).reply->status, 255);
        answer = {};
        if (beforeTheWrite)
            slave->vanish();
        else
            QTimer::singleShot(150, this, [this] { slave->vanish(); });
        const Outcome o = Await([](Requester r) { ReadHoldingRegisters(1, 0, 1, r); });
        QCOMPARE(o.reply->status, 252);
        QVERIFY(o.elapsedMs < 1500);
        QCOMPARE(log->texts.size(), 1);
        QVERIFY(!Link::instance().serialPortOpen());
    }

    void everyRequestKindGoesOutAsBuilt() {
        answer = {};
        General::SerialTimeout = 100;
        std::array<int32_t, 11> image{};
        image[8] = 0x0A03;
        Await([](Requester r) { ReportSlaveId(5, r); });
        Await([](Requester r) { WriteSingleCoil(3, 2, 0xFF00, r); });
        Await([](Requester r) { WriteSingleRegister(3, 0, 0x85, r); });
        Await([&](Requester r) { WriteMultipleRegisters(20, 8, 3, image, r); });
        QCOMPARE(slave->requests.size(), 4);
        QCOMPARE(slave->requests[0], WithCrc(hex("0511")));
        QCOMPARE(slave->requests[1], WithCrc(hex("03050002FF00")));
        QCOMPARE(slave->requests[2], WithCrc(hex("030600000085")));
        QCOMPARE(slave->requests[3], WithCrc(hex("141000080003060A0300000000")));
        QCOMPARE(General::TxBuffer, slave->requests[3]);
    }
};

QIM_TEST_GUILESS_MAIN(TestSerial)
#include "tst_serial.moc"
