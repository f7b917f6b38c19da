// Byte functions, request frames and reply verdicts against the documented vectors.
#include "Frames.h"
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
        QCOMPARE(crc16(digits, 9) & 0xFFFF, 0x4B37);
        QCOMPARE(crc16(hex("010300000001"), 6) & 0xFFFF, 0x0A84);
        QCOMPARE(crc16(digits, 0) & 0xFFFF, 0xFFFF);
        QCOMPARE(crc16(digits, -3) & 0xFFFF, 0xFFFF);

        QVERIFY(checkCRC(hex("010300000001840A"), 8));
        // High-low order instead of low-high fails unless both bytes match.
        QVERIFY(!checkCRC(hex("0103000000010A84"), 8));
        // A frame shorter than it claims is not read past its end.
        QVERIFY(!checkCRC(hex("0103"), 8));
    }

    void byteFunctions() {
        QCOMPARE(byteOf(0x1234, 1), 0x12);
        QCOMPARE(byteOf(-2, 3), 0xFF);
        QCOMPARE(loByte(-1), 0xFF);
        QCOMPARE(hiByte(-256), 0xFF);
        QCOMPARE(hiByte(0xFF00), 0xFF);
        QCOMPARE(loByte(0xFF00), 0x00);

        const std::array<uint8_t, 8> bits{1, 0, 1, 0, 0, 0, 0, 1};
        QCOMPARE(packBits(bits), 0x85);
        QCOMPARE(packBits({}), 0);
        // Lopsided values: a reversed bit order cannot read them the same.
        QCOMPARE(getBit(0x03, 0), 1);
        QCOMPARE(getBit(0x03, 1), 1);
        QCOMPARE(getBit(0x03, 7), 0);
        QCOMPARE(getBit(0x80, 7), 1);
        QCOMPARE(getBit(0x80, 0), 0);
    }

    // COMn counts the system's ports in this order, whatever the locale or
    // the collation backend: a tenth port must not move COM3 to another device.
    void comPortsInNumericOrder() {
        QStringList paths{"/dev/ttyUSB10", "/dev/ttyS10", "/dev/ttyUSB9", "/dev/ttyS2",
                          "/dev/ttyACM0",  "/dev/ttyS1",  "/dev/ttyS02"};
        PortNames::sortByLocation(paths);
        QCOMPARE(paths, (QStringList{"/dev/ttyACM0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS02",
                                     "/dev/ttyS10", "/dev/ttyUSB9", "/dev/ttyUSB10"}));
    }

    // Each request as it goes on both links, and the PDU length of its good
    // reply. A multiple write sends values[start..]: a register beyond the
    // caller's image goes out as 0.
    void frames_data() {
        QTest::addColumn<Request>("request");
        QTest::addColumn<QByteArray>("rtu");
        QTest::addColumn<QByteArray>("tcp");
        QTest::addColumn<int>("replyLength");
        const auto row = [](const char* name, Request r, int id, const char* rtu, const char* tcp,
                            int replyLength) {
            r.transactionId = static_cast<uint16_t>(id);
            QTest::newRow(name) << r << hex(rtu) << hex(tcp) << replyLength;
        };
        row("read holding", Request::readHoldingRegisters(1, 0, 1), 1, "010300000001840A",
            "000100000006010300000001", 4);
        row("read input", Request::readInputRegisters(1, 0, 12), 65535, "01040000000CF00F",
            "FFFF0000000601040000000C", 26);
        row("identify", Request::reportSlaveId(5), 300, "0511C2EC", "012C000000020511", 20);
        row("coil on", Request::writeSingleCoil(1, 2, 0xFF00), 0, "01050002FF002DFA",
            "00000000000601050002FF00", 5);
        row("coil off", Request::writeSingleCoil(1, 2, 0), 0, "0105000200006C0A",
            "000000000006010500020000", 5);
        row("register", Request::writeSingleRegister(1, 3, -1), 0, "01060003FFFF787A",
            "00000000000601060003FFFF", 5);
        std::array<int32_t, 29> image{};
        for (int i = 0; i < 29; ++i)
            image[static_cast<size_t>(i)] = 1000 + i;
        row("multiple", Request::writeMultipleRegisters(9, 27, 3, image), 0,
            "0910001B0003060403040400008CCD", "00000000000D0910001B000306040304040000", 5);
    }
    void frames() {
        QFETCH(Request, request);
        QFETCH(QByteArray, rtu);
        QFETCH(QByteArray, tcp);
        QFETCH(int, replyLength);
        QCOMPARE(Rtu::frame(request), rtu);
        QCOMPARE(Tcp::frame(request), tcp);
        QCOMPARE(request.replyLength, replyLength);
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
        QTest::newRow("exception a byte long") << WithCrcHex("01830200") << 7 << 253;
        QTest::newRow("exception a byte short") << WithCrcHex("0183") << 7 << 253;
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
        QCOMPARE(evaluateSerialReply(reply, expected), status);
    }

    void tcpVerdicts() {
        // 12 input registers: 27 bytes after the header, 33 in all.
        QByteArray good = hex("000100000019010418") + QByteArray(24, '\x01');
        QCOMPARE(good.size(), 33);
        QCOMPARE(evaluateTcpReply(good, 27, false).complete, true);
        QCOMPARE(evaluateTcpReply(good, 27, false).status, 255);
        // A piece of it: keep collecting; at the end it is 253.
        QCOMPARE(evaluateTcpReply(good.left(20), 27, false).complete, false);
        QCOMPARE(evaluateTcpReply(good.left(20), 27, true).status, 253);
        QCOMPARE(evaluateTcpReply(good + "x", 27, false).status, 253);
        QCOMPARE(evaluateTcpReply({}, 27, true).status, 253);

        QCOMPARE(evaluateTcpReply(hex("000100000003018402"), 27, false).status, 2);
        // Nine bytes without the exception bit are only a piece.
        QCOMPARE(evaluateTcpReply(hex("000100000003010402"), 27, false).complete, false);
        QCOMPARE(evaluateTcpReply(hex("000100000003010402"), 27, true).status, 253);
        // An exception a byte long or short is only a piece, too.
        for (const char* piece : {"00010000000401840200", "0001000000020184"}) {
            QCOMPARE(evaluateTcpReply(hex(piece), 27, false).complete, false);
            QCOMPARE(evaluateTcpReply(hex(piece), 27, true).status, 253);
        }
        // The transaction identifier and length field of a reply are not checked.
        QByteArray other = good;
        other[0] = '\x7F';
        for (const char length : {'\x00', '\x01', '\xFF'}) {
            other[4] = other[5] = length;
            QCOMPARE(evaluateTcpReply(other, 27, false).status, 255);
        }
    }

private:
    static QByteArray WithCrcHex(const char* h) { return qimtest::withCrc(hex(h)); }
};

QIM_TEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
