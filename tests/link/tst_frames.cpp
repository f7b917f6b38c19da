// Byte functions, request frames and reply verdicts against the documented vectors.
#include "Frames.h"
#include "Link.h"
#include "PortNames.h"
#include "TestSupport.h"

#include <QTest>
#include <array>

using namespace qim;

namespace {
QByteArray hex(const char* h) {
    return QByteArray::fromHex(h);
}
} // namespace

class TestFrames : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void crcAndCheck() {
        const QByteArray digits("123456789");
        QCOMPARE(CRC16(digits, 9) & 0xFFFF, 0x4B37);
        QCOMPARE(CRC16(hex("010300000001"), 6) & 0xFFFF, 0x0A84);
        QCOMPARE(CRC16(digits, 0) & 0xFFFF, 0xFFFF);
        QCOMPARE(CRC16(digits, -3) & 0xFFFF, 0xFFFF);

        QVERIFY(CheckCRC(hex("010300000001840A"), 8));
        // High-low order instead of low-high fails unless both bytes match.
        QVERIFY(!CheckCRC(hex("0103000000010A84"), 8));
        // A frame shorter than it claims is not read past its end.
        QVERIFY(!CheckCRC(hex("0103"), 8));
    }

    void byteFunctions() {
        QCOMPARE(ByteOf(0x1234, 1), 0x12);
        QCOMPARE(ByteOf(-2, 3), 0xFF);
        QCOMPARE(LoByte(-1), 0xFF);
        QCOMPARE(HiByte(-256), 0xFF);
        QCOMPARE(HiByte(0xFF00), 0xFF);
        QCOMPARE(LoByte(0xFF00), 0x00);

        const std::array<uint8_t, 8> bits{1, 0, 1, 0, 0, 0, 0, 1};
        QCOMPARE(PackBits(bits), 0x85);
        QCOMPARE(PackBits({}), 0);
        // Lopsided values: a reversed bit order cannot read them the same.
        QCOMPARE(GetBit(0x03, 0), 1);
        QCOMPARE(GetBit(0x03, 1), 1);
        QCOMPARE(GetBit(0x03, 7), 0);
        QCOMPARE(GetBit(0x80, 7), 1);
        QCOMPARE(GetBit(0x80, 0), 0);
    }

    // COMn counts the system's ports in this order, whatever the locale or
    // the collation backend: a tenth port must not move COM3 to another device.
    void comPortsInNumericOrder() {
        QStringList paths{"/dev/ttyUSB10", "/dev/ttyS10", "/dev/ttyUSB9", "/dev/ttyS2",
                          "/dev/ttyACM0",  "/dev/ttyS1",  "/dev/ttyS02"};
        PortNames::SortByLocation(paths);
        QCOMPARE(paths, (QStringList{"/dev/ttyACM0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS02",
                                     "/dev/ttyS10", "/dev/ttyUSB9", "/dev/ttyUSB10"}));
    }

    void transactionIdWraps() {
        qimtest::RealLink link;
        for (int i = 0; i < 65535; ++i)
            link.advanceTransaction();
        QCOMPARE(link.transactionId(), 65535);
        link.advanceTransaction();
        QCOMPARE(link.transactionId(), 0);
    }

    // Each request's frame on both links, and the PDU length of its good reply.
    void frames() {
        Request r = Request::readHoldingRegisters(1, 0, 1);
        r.transactionId = 1;
        QCOMPARE(Rtu::Frame(r), hex("010300000001840A"));
        QCOMPARE(Tcp::Frame(r), hex("000100000006010300000001"));
        QCOMPARE(r.replyLength, 4);

        r = Request::reportSlaveId(5);
        r.transactionId = 300;
        QCOMPARE(Rtu::Frame(r).left(2), hex("0511"));
        QVERIFY(CheckCRC(Rtu::Frame(r), 4));
        QCOMPARE(Tcp::Frame(r), hex("012C000000020511"));
        QCOMPARE(r.replyLength, 20);

        r = Request::readInputRegisters(1, 0, 12);
        r.transactionId = 65535;
        QCOMPARE(Rtu::Frame(r)[1], '\x04');
        QCOMPARE(Tcp::Frame(r).left(2), hex("FFFF"));
        QCOMPARE(r.replyLength, 26);

        r = Request::writeSingleCoil(1, 2, 0xFF00);
        QCOMPARE(Rtu::Frame(r).mid(1, 5), hex("050002FF00"));
        QCOMPARE(Tcp::Frame(Request::writeSingleCoil(1, 0, 0xFF00)),
                 hex("00000000000601050000FF00"));
        QCOMPARE(r.replyLength, 5);
        QCOMPARE(Rtu::Frame(Request::writeSingleCoil(1, 2, 0)).mid(4, 2), hex("0000"));
        QCOMPARE(Rtu::Frame(Request::writeSingleRegister(1, 3, -1)).mid(1, 5), hex("060003FFFF"));
        QCOMPARE(Request::writeSingleRegister(1, 3, -1).replyLength, 5);

        std::array<int32_t, 29> image{};
        for (int i = 0; i < 29; ++i)
            image[static_cast<size_t>(i)] = 1000 + i;
        r = Request::writeMultipleRegisters(9, 7, 20, image);
        const QByteArray f = Rtu::Frame(r);
        QCOMPARE(f.size(), 49);
        QCOMPARE(static_cast<uint8_t>(f[6]), 40);
        QCOMPARE(f.mid(7, 2), hex("03EF"));  // values[7] = 1007
        QCOMPARE(f.mid(45, 2), hex("0402")); // values[26] = 1026
        QVERIFY(CheckCRC(f, 49));
        QCOMPARE(r.replyLength, 5);
        std::array<int32_t, 8> dac{1, 2, 3, 4, 5, 6, 7, 4095};
        const QByteArray t = Tcp::Frame(Request::writeMultipleRegisters(3, 0, 8, dac));
        QCOMPARE(t.size(), 29);
        QCOMPARE(static_cast<uint8_t>(t[5]), 23);
        QCOMPARE(static_cast<uint8_t>(t[12]), 16);
        QCOMPARE(t.right(2), hex("0FFF"));
    }

    void serialVerdicts_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("status");
        const QByteArray good = WithCrcHex("010306000100020003");
        QTest::newRow("good") << good << 11 << 255;
        QByteArray badCrc = good;
        badCrc[10] = static_cast<char>(badCrc[10] ^ 0x5A);
        QTest::newRow("crc wrong") << badCrc << 11 << 254;
        QTest::newRow("one byte more") << good + QByteArray(1, 'x') << 11 << 253;
        QTest::newRow("short") << good.left(9) << 11 << 253;
        QTest::newRow("silence") << QByteArray() << 11 << 253;
        QTest::newRow("exception") << hex("018302C0F1") << 7 << 2;
        QTest::newRow("exception bad crc") << hex("018302C0F2") << 7 << 254;
        // Five bytes without the exception bit are a wrong length, not success.
        QTest::newRow("five bytes, no exception bit") << WithCrcHex("010300") << 7 << 253;
        // An exception code that reads as our own success never becomes success.
        QTest::newRow("exception code 255") << WithCrcHex("0183FF") << 7 << 253;
        QTest::newRow("exception code 252") << WithCrcHex("0183FC") << 7 << 253;
        QTest::newRow("expected length with exception bit") << WithCrcHex("01900400") << 6 << 4;
    }
    void serialVerdicts() {
        QFETCH(QByteArray, reply);
        QFETCH(int, expected);
        QFETCH(int, status);
        QCOMPARE(EvaluateSerialReply(reply, expected), status);
    }

    void tcpVerdicts() {
        // 12 input registers: 27 bytes after the header, 33 in all.
        QByteArray good = hex("000100000019010418") + QByteArray(24, '\x01');
        QCOMPARE(good.size(), 33);
        QCOMPARE(EvaluateTcpReply(good, 27, false).complete, true);
        QCOMPARE(EvaluateTcpReply(good, 27, false).status, 255);
        // A piece of it: keep collecting; at the end it is 253.
        QCOMPARE(EvaluateTcpReply(good.left(20), 27, false).complete, false);
        QCOMPARE(EvaluateTcpReply(good.left(20), 27, true).status, 253);
        QCOMPARE(EvaluateTcpReply(good + "x", 27, false).status, 253);
        QCOMPARE(EvaluateTcpReply({}, 27, true).status, 253);

        QCOMPARE(EvaluateTcpReply(hex("000100000003018402"), 27, false).status, 2);
        // Nine bytes without the exception bit are only a piece.
        QCOMPARE(EvaluateTcpReply(hex("000100000003010402"), 27, false).complete, false);
        QCOMPARE(EvaluateTcpReply(hex("000100000003010402"), 27, true).status, 253);
        // The transaction identifier and length field of a reply are not checked.
        QByteArray other = good;
        other[0] = '\x7F';
        other[5] = '\x00';
        QCOMPARE(EvaluateTcpReply(other, 27, false).status, 255);
    }

private:
    static QByteArray WithCrcHex(const char* h) { return qimtest::WithCrc(hex(h)); }
};

QIM_TEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
