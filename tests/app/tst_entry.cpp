// The numeric-entry rule every dialog uses, and the decoding of an
// identification block into the device table.
#include "AppTest.h"
#include "DeviceTable.h"
#include "NumericEntry.h"

#include <QLocale>

using namespace qim;
using namespace apptest;

namespace {
Reply serialReply(uint8_t address, const QByteArray& id) {
    return {Status::Ok, rtuIdReply(address, id), false};
}
Reply tcpReply(uint8_t address, const QByteArray& id) {
    QByteArray b;
    b += static_cast<char>(address);
    b += char(17);
    b += static_cast<char>(id.size());
    return {Status::Ok, b + id, true};
}
QString padded(const QString& s, int n) {
    return s + QString(n - s.size(), QLatin1Char(' '));
}
// What an entry becomes; a refused entry gives a value no test expects.
int rounded(const char* text, double low, double high) {
    const auto e = ParseEntry(QString::fromUtf8(text), low, high);
    return e ? e->rounded : -999999;
}
double value(const char* text, double low, double high) {
    const auto e = ParseEntry(QString::fromUtf8(text), low, high);
    return e ? e->value : -999999;
}
QString nuls(int n) {
    return QString(n, QChar(0));
}
} // namespace

class TestEntry : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void entryBoundsAreInclusiveOnTheRealValue() {
        QCOMPARE(rounded("1000", 1000, 10000), 1000);
        QCOMPARE(rounded("10000", 1000, 10000), 10000);
        QVERIFY(!ParseEntry("999", 1000, 10000));
        QVERIFY(!ParseEntry("10001", 1000, 10000));
        // The range test comes before rounding: 999.6 would round into range.
        QVERIFY(!ParseEntry("999.6", 1000, 10000));
        QVERIFY(!ParseEntry("10000.2", 1000, 10000));
        QVERIFY(!ParseEntry("0.4", 1, 247));
        QVERIFY(!ParseEntry("247.4", 1, 247));
        QCOMPARE(rounded("246.6", 1, 247), 247);
        // The exclusive variant.
        QVERIFY(!ParseEntryAbove("0", 0, 100));
        QVERIFY(ParseEntryAbove("0.01", 0, 100));
        QVERIFY(ParseEntryAbove("100", 0, 100));
        QVERIFY(!ParseEntryAbove("100.01", 0, 100));
    }

    void entryRoundsHalvesToEven() {
        QCOMPARE(rounded("0.5", 0, 10), 0);
        QCOMPARE(rounded("1.5", 0, 10), 2);
        QCOMPARE(rounded("2.5", 0, 10), 2);
        QCOMPARE(rounded("2.500001", 0, 10), 3);
        QCOMPARE(rounded("-2.5", -10, 10), -2);
        QCOMPARE(rounded("1000.5", 1000, 10000), 1000);
        QCOMPARE(rounded("9999.5", 1000, 10000), 10000);
        QCOMPARE(value("2.5", 0, 10), 2.5);
    }

    void entryAcceptsOnlyWholeNumbersOfTheLocale() {
        // Signs, exponents and blanks around the number are fine.
        QCOMPARE(rounded(" 1000 ", 0, 10000), 1000);
        QCOMPARE(rounded("+1000", 0, 10000), 1000);
        QCOMPARE(rounded("1e3", 0, 10000), 1000);
        QCOMPARE(rounded("1.5E3", 0, 10000), 1500);
        QCOMPARE(rounded("-0", 0, 10), 0);
        for (const char* bad : {"", "   ", "abc", "12abc", "1 2", "0x10", "1,000", "1..2", "inf",
                                "nan", "1e999", "--1", "+"})
            QVERIFY2(!ParseEntry(QString::fromLatin1(bad), -1e9, 1e9), bad);

        // A comma locale: the comma is the decimal separator, a point is refused
        // rather than silently read as a thousands separator.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(value("2,5", 0, 10), 2.5);
        QCOMPARE(rounded("1,5", 0, 10), 2);
        QVERIFY(!ParseEntry("1.000", 0, 10000));
    }

    void identificationFillsTheRecord() {
        ClearDeviceTable();
        // Firmware 1.10, hardware 'B', a TCP module (byte 9 = 5) at 115200 (code 0).
        QVERIFY(
            AddFoundDevice(0, serialReply(5, identification(10, 1, 10, 'B', 5, 0, 1, 2, 3, 4))));
        const DeviceRecord& r = DeviceTable[0];
        QCOMPARE(r.DeviceAddress, 5);
        QCOMPARE(r.DeviceCode, 10);
        QCOMPARE(r.DeviceName.text, padded("QIM-K520", 32));
        QCOMPARE(r.DeviceType.text, padded("8 Discrete Inputs & 8 Discrete Outputs", 64));
        QCOMPARE(r.Vendor.text, padded("Velmora Labs", 32));
        QCOMPARE(r.FirmwareRevision.text, padded("1.10", 32));
        QCOMPARE(r.HardwareRevision.text, padded("B", 32));
        QCOMPARE(r.ConnectionMode.text, padded("TCP/IP", 32));
        QCOMPARE(r.BaudRate.text, padded("115200", 32));
        QCOMPARE(r.InputRegisters, 1);
        QCOMPARE(r.OutputRegisters, 2);
        QCOMPARE(r.DiscreteInputs, 3);
        QCOMPARE(r.DiscreteOutputs, 4);
        QCOMPARE(DeviceListLine(r), padded("QIM-K520", 32) + QString(10, QLatin1Char(' ')) + "5");

        // The same block over TCP lands at the same indices.
        QVERIFY(AddFoundDevice(1, tcpReply(200, identification(30, 2, 15, 'A', 0, 3))));
        QCOMPARE(DeviceTable[1].DeviceAddress, 200);
        QCOMPARE(DeviceTable[1].DeviceName.text, padded("QIM-P750", 32));
        QCOMPARE(DeviceTable[1].DeviceType.text, padded("4 Temperature control loops", 64));
        QCOMPARE(DeviceTable[1].FirmwareRevision.text, padded("2.15", 32));
        QCOMPARE(DeviceTable[1].ConnectionMode.text, padded("RS422", 32));
        QCOMPARE(DeviceTable[1].BaudRate.text, padded("9600", 32));

        QVERIFY(AddFoundDevice(2, serialReply(9, identification(11, 1, 0, 'A', 0, 1))));
        QCOMPARE(DeviceTable[2].DeviceName.text, padded("QIM-K530", 32));
        QCOMPARE(DeviceTable[2].DeviceType.text, padded("8 Discrete Inputs & 8 Relay Outputs", 64));
        QCOMPARE(DeviceTable[2].BaudRate.text, padded("57600", 32));
        QVERIFY(AddFoundDevice(3, serialReply(4, identification(20, 1, 0, 'A', 0, 2))));
        QCOMPARE(DeviceTable[3].DeviceName.text, padded("QIM-M640", 32));
        QCOMPARE(DeviceTable[3].BaudRate.text, padded("19200", 32));
    }

    void unlistedCodesLeaveTheirFieldsAlone() {
        ClearDeviceTable();
        // Device code 40 and baud code 7 are in no table: blank after the clear.
        QVERIFY(AddFoundDevice(0, serialReply(12, identification(40, 3, 1, 'C', 0, 7))));
        const DeviceRecord& r = DeviceTable[0];
        QCOMPARE(r.DeviceAddress, 12);
        QCOMPARE(r.DeviceCode, 40);
        QCOMPARE(r.FirmwareRevision.text, padded("3.1", 32));
        QCOMPARE(r.DeviceName.text, nuls(32));
        QCOMPARE(r.DeviceType.text, nuls(64));
        QCOMPARE(r.BaudRate.text, nuls(32));
        QCOMPARE(DeviceListLine(r), nuls(32) + QString(10, QLatin1Char(' ')) + "12");
        // Over a filled entry they keep what was there.
        QVERIFY(AddFoundDevice(1, serialReply(1, identification(10))));
        QVERIFY(AddFoundDevice(1, serialReply(2, identification(99, 1, 0, 'A', 0, 200))));
        QCOMPARE(DeviceTable[1].DeviceName.text, padded("QIM-K520", 32));
        QCOMPARE(DeviceTable[1].BaudRate.text, padded("115200", 32));
        QCOMPARE(DeviceTable[1].DeviceCode, 99);
    }

    void undecodableRepliesStoreNothing() {
        ClearDeviceTable();
        const QByteArray id = identification(10);
        // Too short: the 5-byte serial reply the link accepts as a success, and
        // one byte short of index 15 on either link.
        const Reply tooShort[] = {
            {Status::Ok, qimtest::WithCrc(QByteArray::fromHex("011100")), false},
            {Status::Ok, rtuIdReply(1, id).left(15) + QByteArray(2, 0), false},
            {Status::Ok, QByteArray::fromHex("011112") + id.left(12), true},
            {Status::Ok, {}, true},
        };
        for (const Reply& r : tooShort) {
            QVERIFY(!AddFoundDevice(0, r));
            QCOMPARE(DeviceTable[0].DeviceCode, 0);
            QCOMPARE(DeviceTable[0].Vendor.text, nuls(32));
        }
        // Exactly long enough: indices 0..15.
        QVERIFY(AddFoundDevice(0, {Status::Ok, QByteArray::fromHex("011112") + id.left(13), true}));
        QCOMPARE(DeviceTable[0].DiscreteOutputs, 8);

        // Indices outside the table.
        QVERIFY(!AddFoundDevice(-1, serialReply(1, id)));
        QVERIFY(!AddFoundDevice(DeviceTableSize, serialReply(1, id)));
        QVERIFY(AddFoundDevice(DeviceTableSize - 1, serialReply(1, id)));

        // The clear empties every number and text.
        ClearDeviceTable();
        const DeviceRecord& last = DeviceTable[DeviceTableSize - 1];
        QCOMPARE(last.DeviceAddress, 0);
        QCOMPARE(last.DiscreteOutputs, 0);
        QCOMPARE(last.Vendor.text, nuls(32));
        QCOMPARE(last.DeviceType.text, nuls(64));
    }
};

QIM_TEST_GUILESS_MAIN(TestEntry)
#include "tst_entry.moc"
