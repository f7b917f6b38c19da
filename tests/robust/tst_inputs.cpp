// Every text box of every dialog and panel against what a user may type or
// paste: nothing, blanks, letters, signs, exponents, huge numbers, NaN and
// the infinities, digits of other scripts, a decimal comma, a text of
// 100,000 characters. A box either takes the number the text stands for
// (within its range, nearest whole number, halves to even) or shows its own
// message and leaves everything as it was: no setting stored, no request on
// the wire. What is checked is what the user sees and what reaches the
// module, never the parser's own result.
#include "../app/AppTest.h"
#include "../modules/PanelTestSupport.h"
#include "../modules/TempTestSupport.h"
#include "CommSetupDialog.h"
#include "DeviceTable.h"
#include "Link.h"
#include "MainWindow.h"
#include "Panels.h"
#include "PollLoop.h"
#include "PortNames.h"
#include "Requests.h"
#include "ScanBusDialog.h"
#include "StatusPanels.h"
#include "frmQIM_K520.h"
#include "frmQIM_M640.h"
#include "frmQIM_P750.h"
#include "frmQIM_P750_ControlLoop.h"

#include <QComboBox>
#include <QLocale>
#include <QSignalSpy>
#include <limits>

using namespace qim;
using namespace qimtest;

namespace {

constexpr int Refused = std::numeric_limits<int>::min();
constexpr int AsTyped = Refused + 1; // the IP address box keeps any text but an empty one

struct Case {
    const char* label;
    QString text;
    int expected;
    const char* locale = "en_US";
};

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Texts that are no number of an English locale, or none any box takes.
QList<Case> notNumbers() {
    return {
        {"empty", u(""), Refused},
        {"blanks", u("   "), Refused},
        {"letters", u("abc"), Refused},
        {"digits then letters", u("12abc"), Refused},
        {"two signs", u("+-5"), Refused},
        {"NaN", u("NaN"), Refused},
        {"nan", u("nan"), Refused},
        {"inf", u("inf"), Refused},
        {"-inf", u("-inf"), Refused},
        {"1e308", u("1e308"), Refused},
        {"twenty nines", u("99999999999999999999"), Refused},
        {"arabic-indic digit", u("\u0665"), Refused},
        {"fullwidth digit", u("\uFF15"), Refused},
        {"decimal comma", u("5,5"), Refused},
        {"100000 letters", QString(100000, QLatin1Char('x')), Refused},
        {"100000 digits", u("1") + QString(99999, QLatin1Char('0')), Refused},
        {"100000 blanks", QString(100000, QLatin1Char(' ')), Refused},
    };
}

// The ranges of the boxes, with their edges, signs, exponents, halves and
// other locales.
QList<Case> timeouts() { // 1000..10000
    return {
        {"low end", u("1000"), 1000},
        {"high end", u("10000"), 10000},
        {"just below", u("999.9"), Refused},
        {"just above", u("10000.01"), Refused},
        {"plus sign", u("+2500"), 2500},
        {"minus sign", u("-2500"), Refused},
        {"blanks around", u(" 2500 "), 2500},
        {"half to even, down", u("1000.5"), 1000},
        {"half to even, up", u("1001.5"), 1002},
        {"top half", u("9999.5"), 10000},
        {"exponent", u("1e3"), 1000},
        {"capital exponent", u("1E4"), 10000},
        {"negative exponent", u("1E-2"), Refused},
        {"german decimal comma", u("1500,5"), 1500, "de_DE"},
        {"german point", u("1.500"), Refused, "de_DE"},
        {"arabic-indic digits", u("\u0662\u0665\u0660\u0660"), 2500, "ar_EG"},
    };
}
QList<Case> ports() { // 1..65535
    return {
        {"low end", u("1"), 1},
        {"high end", u("65535"), 65535},
        {"zero", u("0"), Refused},
        {"just above", u("65536"), Refused},
        {"half below the low end", u("0.5"), Refused},
        {"half to even", u("1.5"), 2},
        {"top half", u("65534.5"), 65534},
        {"half past the top", u("65535.5"), Refused},
        {"plus sign", u("+1502"), 1502},
        {"minus sign", u("-1502"), Refused},
        {"exponent", u("1.502e3"), 1502},
        {"negative exponent", u("1E-2"), Refused},
        {"german decimal comma", u("1502,5"), 1502, "de_DE"},
        {"arabic-indic digits", u("\u0661\u0665\u0660\u0662"), 1502, "ar_EG"},
    };
}
QList<Case> addresses() { // 1..247
    return {
        {"low end", u("1"), 1},
        {"high end", u("247"), 247},
        {"zero", u("0"), Refused},
        {"just above", u("248"), Refused},
        {"just below", u("0.99"), Refused},
        {"half to even, down", u("2.5"), 2},
        {"half to even, up", u("1.5"), 2},
        {"top half", u("246.5"), 246},
        {"half past the top", u("247.5"), Refused},
        {"plus sign", u("+7"), 7},
        {"minus sign", u("-7"), Refused},
        {"exponent", u("1e2"), 100},
        {"negative exponent", u("1E-2"), Refused},
        {"german decimal comma", u("6,5"), 6, "de_DE"},
        {"arabic-indic digit", u("\u0665"), 5, "ar_EG"},
    };
}
QList<Case> intervals() { // 0..10000
    return {
        {"zero", u("0"), 0},
        {"high end", u("10000"), 10000},
        {"minus zero", u("-0"), 0},
        {"minus sign", u("-1"), Refused},
        {"half past the top", u("10000.5"), Refused},
        {"half to even, down", u("0.5"), 0},
        {"half to even, up", u("1.5"), 2},
        {"plus sign", u("+20"), 20},
        {"exponent", u("1e4"), 10000},
        {"exponent too big", u("1e5"), Refused},
        {"negative exponent", u("1E-2"), 0},
        {"german decimal comma", u("20,5"), 20, "de_DE"},
        {"arabic-indic digits", u("\u0662\u0660"), 20, "ar_EG"},
    };
}
QList<Case> samplingIntervals() { // above 0 up to 255, and at least 1 once rounded
    return {
        {"low end", u("1"), 1},
        {"high end", u("255"), 255},
        {"zero", u("0"), Refused},
        {"half, which rounds to zero", u("0.5"), Refused},
        {"just above half", u("0.51"), 1},
        {"half to even, down", u("2.5"), 2},
        {"half to even, up", u("1.5"), 2},
        {"top half", u("254.5"), 254},
        {"half past the top", u("255.5"), Refused},
        {"plus sign", u("+20"), 20},
        {"minus sign", u("-1"), Refused},
        {"exponent", u("2.55E2"), 255},
        {"negative exponent", u("1E-2"), Refused},
        {"german decimal comma", u("20,5"), 20, "de_DE"},
        {"arabic-indic digits", u("\u0662\u0660"), 20, "ar_EG"},
    };
}
QList<Case> dacCounts() { // 0..4095
    return {
        {"zero", u("0"), 0},
        {"high end", u("4095"), 4095},
        {"half past the top", u("4095.5"), Refused},
        {"minus sign", u("-1"), Refused},
        {"minus zero", u("-0"), 0},
        {"half to even, down", u("0.5"), 0},
        {"top half", u("4094.5"), 4094},
        {"plus sign", u("+7"), 7},
        {"exponent", u("4e3"), 4000},
        {"negative exponent", u("1E-2"), 0},
        {"german decimal comma", u("100,5"), 100, "de_DE"},
        {"arabic-indic digits", u("\u0661\u0660\u0660"), 100, "ar_EG"},
    };
}
QList<Case> degrees() { // 0..1023
    return {
        {"zero", u("0"), 0},
        {"high end", u("1023"), 1023},
        {"just above", u("1024"), Refused},
        {"minus sign", u("-1"), Refused},
        {"half to even, down", u("100.5"), 100},
        {"half to even, up", u("101.5"), 102},
        {"plus sign", u("+7"), 7},
        {"exponent", u("1.023e3"), 1023},
        {"negative exponent", u("1E-2"), 0},
        {"german decimal comma", u("100,5"), 100, "de_DE"},
        {"arabic-indic digits", u("\u0661\u0660\u0660"), 100, "ar_EG"},
    };
}
QList<Case> loopSmall() { // 0..127
    return {
        {"zero", u("0"), 0},
        {"high end", u("127"), 127},
        {"just above", u("128"), Refused},
        {"inside the on-screen hint", u("200"), Refused},
        {"fraction past the top", u("127.4"), Refused},
        {"top half", u("126.5"), 126},
        {"plus sign", u("+7"), 7},
        {"minus sign", u("-1"), Refused},
        {"exponent", u("1.27E2"), 127},
        {"german decimal comma", u("6,5"), 6, "de_DE"},
        {"arabic-indic digit", u("\u0665"), 5, "ar_EG"},
    };
}

void columns() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("locale");
}

void addRows(const char* box, QList<Case> cases, const QString& tag = {}) {
    cases += notNumbers();
    for (const Case& c : cases)
        QTest::addRow("%s%s: %s", qPrintable(tag), box, c.label)
            << QString::fromLatin1(box) << c.text << c.expected << QString::fromLatin1(c.locale);
}

QString held(const QObject* parent, const QString& box) {
    return parent->findChild<QLineEdit*>(box)->text();
}

// The box still shows what was typed (a line edit holds at most its maximum
// length of it), for the user to mend.
bool keeps(const QObject* parent, const QString& box, const QString& typed) {
    const auto* e = parent->findChild<QLineEdit*>(box);
    return e && e->text() == typed.left(e->maxLength());
}

void enter(const QObject* parent, const QString& box, const QString& text) {
    auto* e = parent->findChild<QLineEdit*>(box);
    if (!e)
        qFatal("no text box %s", qPrintable(box));
    e->setText(text);
}

void press(const QObject* parent, const char* name) {
    apptest::click(parent, name);
}

} // namespace

class TestInputs : public QObject, paneltest::PanelFixture {
    Q_OBJECT
    QPointer<MainWindow> main;

    void useLocale(const QString& name) { QLocale::setDefault(QLocale(name)); }
    void aimAtBus() {
        General::CommMode = 1;
        General::IPAddress = QStringLiteral("127.0.0.1");
        General::ServerPort = bus->tcpPort();
        General::TCPTimeout = 400;
        General::TCPConnectTimeout = 1000;
    }

private Q_SLOTS:
    void initTestCase() {
        QuietOffscreenPlatform();
        MessagePresenter::instance();
    }
    void init() {
        apptest::resetMessages();
        useLocale(QStringLiteral("en_US"));
        QVERIFY(tcpBus());
    }
    void cleanup() {
        QLocale::setDefault(QLocale::c());
        QVERIFY(closePanel());
        QVERIFY(!frmQIM_P750_ControlLoop::instance());
        delete main.data();
        apptest::resetMessages();
        Link::instance().reset();
        PortNames::Unpublish(3);
        bus.reset();
    }

    // ------------------------------------------------------------ connection

    void connectionDialog_data() {
        columns();
        addRows("TextRS422ResTimeOut", timeouts());
        addRows("TextTCPResTimeOut", timeouts());
        addRows("TextTCPConTimeOut", timeouts());
        addRows("TextServerPort", ports());
        // Any text but an empty one is taken as the address it names.
        for (const Case& c : notNumbers())
            QTest::addRow("TextIPAddress: %s", c.label)
                << u("TextIPAddress") << c.text << (c.text.isEmpty() ? Refused : AsTyped)
                << u("en_US");
        QTest::addRow("TextIPAddress: loopback")
            << u("TextIPAddress") << u("127.0.0.1") << AsTyped << u("en_US");
        QTest::addRow("TextIPAddress: loopback in blanks")
            << u("TextIPAddress") << u(" 127.0.0.2 ") << AsTyped << u("en_US");
    }
    void connectionDialog() {
        QFETCH(QString, box);
        QFETCH(QString, text);
        QFETCH(int, expected);
        QFETCH(QString, locale);
        static const QMap<QString, QString> message{
            {"TextRS422ResTimeOut", "Serial Timeout must be a number from 1000 to 10000"},
            {"TextTCPResTimeOut", "TCP/IP Timeout must be a number from 1000 to 10000"},
            {"TextTCPConTimeOut", "TCP/IP Connection Timeout must be a number from 1000 to 10000"},
            {"TextServerPort", "Server Port must be a number from 1 to 65535"},
            {"TextIPAddress", "Please, enter a valid IP Address"},
        };
        const bool serial = box == QLatin1String("TextRS422ResTimeOut");
        const bool address = box == QLatin1String("TextIPAddress");

        // The main window assigns the link defaults when it loads: the
        // settings are made after it, never leaving the default host in place.
        main = new MainWindow;
        main->show();
        // A module to connect to on either link; the settings before are of
        // the other mode, with values every box takes.
        TcpSlave tcpModule([](const QByteArray&) { return QList<Chunk>{}; });
        PtySlave serialModule([](const QByteArray&) { return QList<Chunk>{}; });
        QVERIFY(serialModule.publishAs(3));
        General::CommMode = serial ? 1 : 0;
        General::ComPortIndex = 2;
        General::SerialTimeout = 1234;
        General::TCPTimeout = address ? 10000 : 1111;
        General::TCPConnectTimeout = 2222;
        General::IPAddress = QStringLiteral("127.0.0.1");
        General::ServerPort = tcpModule.port();
        const qimtest::LinkSettings before = qimtest::LinkSettings::now();

        main->openCommSetup();
        CommSetupDialog* d = main->commSetup();
        QVERIFY(d);
        QCOMPARE(held(d, QStringLiteral("TextIPAddress")), QStringLiteral("127.0.0.1"));
        apptest::child<QComboBox>(d, "ComboCommMode")->setCurrentIndex(serial ? 0 : 1);

        // The dialog tests the link as soon as it has stored the address; a
        // name that is no loopback address would be looked up in the DNS.
        // So for the address box the link is kept busy with a request to the
        // silent module, the test waits its turn, and the link is reset
        // before that turn comes.
        QObject busy;
        if (address) {
            QCOMPARE(General::IPAddress, QStringLiteral("127.0.0.1"));
            TCPReadHoldingRegisters(1, 0, 1, {&busy, [](const Reply&) {}});
            QTRY_COMPARE(tcpModule.requests.size(), 1);
        }

        useLocale(locale);
        enter(d, box, text);
        QSignalSpy tested(d, &CommSetupDialog::testFinished);
        press(d, "CmdOk");
        QCOMPARE(main->statusPanels()->text(1), QStringLiteral("Disconnected"));

        if (expected == Refused) {
            QCOMPARE(messages(), QStringList{message[box]});
            QVERIFY(qimtest::LinkSettings::now() == before);
            QVERIFY(main->commSetup() == d && d->isVisible());
            QVERIFY(keeps(d, box, text));
            QCOMPARE(Link::instance().pending(), address ? 1 : 0);
            QTest::qWait(20);
            QCOMPARE(tcpModule.connections, address ? 1 : 0);
            QCOMPARE(tested.size(), 0);
            return;
        }

        QVERIFY2(messages().isEmpty(), qPrintable(messages().join(QLatin1Char('|'))));
        QCOMPARE(General::CommMode, int16_t(serial ? 0 : 1));
        if (address) {
            // Stored exactly as it stands in the box; the test has not run.
            QCOMPARE(General::IPAddress, held(d, box));
            QVERIFY(keeps(d, box, text));
            QCOMPARE(General::TCPTimeout, int16_t(10000));
            QCOMPARE(tested.size(), 0);
            Link::instance().reset();
            return;
        }
        if (serial) {
            QCOMPARE(int(General::SerialTimeout), expected);
        } else {
            QCOMPARE(int(General::TCPTimeout),
                     box == QLatin1String("TextTCPResTimeOut") ? expected : 1111);
            QCOMPARE(int(General::TCPConnectTimeout),
                     box == QLatin1String("TextTCPConTimeOut") ? expected : 2222);
            QCOMPARE(int(General::ServerPort),
                     box == QLatin1String("TextServerPort") ? expected : int(tcpModule.port()));
            QCOMPARE(General::IPAddress, QStringLiteral("127.0.0.1"));
            // The other link's settings are not touched.
            QCOMPARE(General::SerialTimeout, int16_t(1234));
        }
        // The link test follows the store; with the module's own port it connects.
        QVERIFY(tested.wait(10000));
        if (box != QLatin1String("TextServerPort")) {
            QCOMPARE(tested.at(0).at(0).toBool(), true);
            QCOMPARE(main->statusPanels()->text(1), QStringLiteral("Connected"));
            QCOMPARE(main->statusPanels()->text(2),
                     serial ? QStringLiteral("COM3") : QStringLiteral("127.0.0.1"));
            QTRY_VERIFY(!main->commSetup());
        }
    }

    // ------------------------------------------------------------ bus scan

    void scanDialog_data() {
        columns();
        addRows("TextStartAddress", addresses());
        addRows("TextEndAddress", addresses());
        addRows("TextTime", intervals());
    }
    void scanDialog() {
        QFETCH(QString, box);
        QFETCH(QString, text);
        QFETCH(int, expected);
        QFETCH(QString, locale);
        static const QMap<QString, QString> message{
            {"TextStartAddress", "Start Address must be a number from 1 to 247"},
            {"TextEndAddress", "End Address must be a number from 1 to 247"},
            {"TextTime", "Time between polls must be a number from 0 to 10000"},
        };
        const bool time = box == QLatin1String("TextTime");

        // What an earlier scan left: one module, selected.
        ClearDeviceTable();
        DeviceTable[0].DeviceAddress = 99;
        DeviceTable[0].DeviceCode = 42;
        SelectedAddress = 3;
        main = new MainWindow;
        main->show();
        aimAtBus(); // after the main window has assigned the link defaults
        main->openScanBus();
        ScanBusDialog* d = main->scanBus();
        QVERIFY(d);

        // One address is scanned when the text is taken: the other address
        // box names the same one.
        const int one = time || expected == Refused ? 5 : expected;
        bus->addModule(static_cast<uint8_t>(one), 10);
        enter(d, QStringLiteral("TextStartAddress"), QString::number(one));
        enter(d, QStringLiteral("TextEndAddress"), QString::number(one));
        enter(d, QStringLiteral("TextTime"), QStringLiteral("0"));
        useLocale(locale);
        enter(d, box, text);
        QSignalSpy ended(d, &ScanBusDialog::scanEnded);
        press(d, "CmdStart");

        if (expected == Refused) {
            QCOMPARE(messages(), QStringList{message[box]});
            QVERIFY(!d->scanning());
            QVERIFY(keeps(d, box, text));
            QCOMPARE(DeviceTable[0].DeviceAddress, 99);
            QCOMPARE(SelectedAddress, int16_t(3));
            QTest::qWait(20);
            QVERIFY(bus->requests().isEmpty());
            return;
        }

        QVERIFY(messages().isEmpty());
        QVERIFY(d->scanning());
        if (time) {
            QCOMPARE(int(d->PollInterval), expected);
        } else {
            QCOMPARE(int(d->StartAddress), expected);
            QCOMPARE(int(d->EndAddress), expected);
        }
        if (expected > 1000) {
            // A long pause: the scan waits for it; closing ends the scan unsent.
            d->close();
            QTRY_VERIFY(!main->scanBus());
            QVERIFY(bus->requests().isEmpty());
            return;
        }
        QVERIFY(ended.wait(10000));
        QCOMPARE(ended.at(0).at(0).value<ScanBusDialog::End>(), ScanBusDialog::End::Natural);
        const auto sent = bus->requests();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(int(sent[0].address), one);
        QCOMPARE(int(sent[0].function), 17);
        QCOMPARE(int(DeviceTable[0].DeviceAddress), one);
        QCOMPARE(apptest::child<QLabel>(d, "lblDeviceCount")->text(), QStringLiteral("1"));
    }

    // ------------------------------------------------------------ panels

    void panelIntervals_data() {
        columns();
        addRows("TextScanTimer", intervals(), QStringLiteral("frmQIM_K520 "));
        addRows("TextScanTimer", intervals(), QStringLiteral("frmQIM_M640 "));
        addRows("TextScanTimer", intervals(), QStringLiteral("frmQIM_P750 "));
    }
    void panelIntervals() {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QFETCH(QString, locale);
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        const uint8_t code = tag.startsWith(QLatin1String("frmQIM_K520"))   ? 10
                             : tag.startsWith(QLatin1String("frmQIM_M640")) ? 20
                                                                            : 30;
        bus->addModule(5, code);
        paneltest::SelectDevice(5, code);
        QVERIFY(OpenPanelFor(code));
        panel = code == 10   ? static_cast<QWidget*>(frmQIM_K520::instance())
                : code == 20 ? static_cast<QWidget*>(frmQIM_M640::instance())
                             : static_cast<QWidget*>(frmQIM_P750::instance());
        QVERIFY(panel);
        const auto interval = [&] {
            return code == 10   ? frmQIM_K520::instance()->PollInterval
                   : code == 20 ? frmQIM_M640::instance()->PollInterval
                                : frmQIM_P750::instance()->pollInterval();
        };
        const int before = interval();

        useLocale(locale);
        scan(text);

        if (expected == Refused) {
            QCOMPARE(messages(),
                     QStringList{"Time between polls must be a number from 0 to 10000"});
            QCOMPARE(sb(3), QStringLiteral("STOP"));
            QVERIFY(enabled("CmdScan") && !enabled("CmdStop"));
            QCOMPARE(interval(), before);
            QVERIFY(keeps(panel, QStringLiteral("TextScanTimer"), text));
            QTest::qWait(20);
            QVERIFY(bus->requests().isEmpty());
            return;
        }
        QVERIFY(messages().isEmpty());
        QCOMPARE(sb(3), QStringLiteral("SCAN"));
        QCOMPARE(interval(), expected);
        // A short interval polls at once; a long one is still waiting.
        if (expected <= 1000)
            QTRY_VERIFY(!bus->requests().isEmpty());
        else
            QVERIFY(bus->requests().isEmpty());
    }

    void analogPanelEntries_data() {
        columns();
        addRows("TextTS", samplingIntervals());
        for (int k = 1; k <= 8; ++k)
            addRows(qPrintable(QStringLiteral("TextDAC%1").arg(k)), dacCounts());
    }
    void analogPanelEntries() {
        QFETCH(QString, box);
        QFETCH(QString, text);
        QFETCH(int, expected);
        QFETCH(QString, locale);
        static const char* const outputs[] = {"AO1", "AO2", "AO3", "AO4",
                                              "CL1", "CL2", "CL3", "CL4"};
        const bool sampling = box == QLatin1String("TextTS");
        const int dac = sampling ? 0 : box.mid(7).toInt(); // 1..8

        bus->addModule(5, 20);
        paneltest::SelectDevice(5, 20);
        panel = frmQIM_M640::open();
        QVERIFY(panel);
        auto* analog = frmQIM_M640::instance();
        // Valid texts in the other boxes, so only this one decides.
        for (int k = 1; k <= 8; ++k)
            type(QStringLiteral("TextDAC%1").arg(k), QString::number(100 + k));
        const auto dacBefore = analog->DacValues;
        const int16_t samplingBefore = analog->SamplingInterval;

        useLocale(locale);
        type(box, text);
        click(sampling ? QStringLiteral("CmdConfigADC") : QStringLiteral("CmdWriteDAC"));

        if (expected == Refused) {
            QCOMPARE(messages(),
                     QStringList{sampling ? u("Sampling Interval must be a number from 1 to 255")
                                          : QLatin1String(outputs[dac - 1]) +
                                                u(" must be a number from 0 to 4095")});
            QCOMPARE(analog->DacValues, dacBefore);
            QCOMPARE(analog->SamplingInterval, samplingBefore);
            QCOMPARE(sb(1), QStringLiteral("Err: 0"));
            QCOMPARE(sb(2), QStringLiteral("Poll: 0"));
            QTest::qWait(20);
            QVERIFY(bus->requests().isEmpty());
            return;
        }
        QVERIFY(messages().isEmpty());
        QTRY_COMPARE(sb(2), QStringLiteral("Poll: 1"));
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
        const auto sent = bus->requests();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(int(sent[0].function), 16);
        if (sampling) {
            QCOMPARE(int(sent[0].start), 8);
            QCOMPARE(int(sent[0].count), 3);
            QCOMPARE(sent[0].values[0] >> 8, expected); // the interval is the high byte
            QCOMPARE(int(analog->SamplingInterval), expected);
        } else {
            QCOMPARE(int(sent[0].start), 0);
            QCOMPARE(int(sent[0].count), 8);
            for (int k = 1; k <= 8; ++k)
                QCOMPARE(int(sent[0].values[k - 1]), k == dac ? expected : 100 + k);
            QCOMPARE(int(*bus->module(5)->holding(dac - 1)), expected);
        }
    }

    void controlLoopEntries_data() {
        columns();
        addRows("Text_SetPoint", degrees());
        addRows("Text_CycleTime", loopSmall());
        addRows("Text_Band", loopSmall());
        addRows("Text_AlarmHigh", degrees());
        addRows("Text_AlarmLow", degrees());
    }
    void controlLoopEntries() {
        QFETCH(QString, box);
        QFETCH(QString, text);
        QFETCH(int, expected);
        QFETCH(QString, locale);
        static const QStringList boxes{"Text_SetPoint", "Text_CycleTime", "Text_Band",
                                       "Text_AlarmHigh", "Text_AlarmLow"};
        static const QStringList message{"Set Point must be a number from 0 to 1023",
                                         "Cycle Time must be a number from 0 to 127",
                                         "Band must be a number from 0 to 127",
                                         "Alarm High must be a number from 0 to 1023",
                                         "Alarm Low must be a number from 0 to 1023"};
        const int row = static_cast<int>(boxes.indexOf(box));

        bus->addModule(7, 30);
        FreshTemperatureStart(7);
        // Loop 3's block holds the values of an earlier edit.
        const int base = LoopBase(3);
        const std::array<int32_t, 5> earlier{300, 12, 34, 500, 100};
        for (int i = 0; i < 5; ++i)
            TempOutputRegs[base + i] = earlier[i];
        const auto image = TempOutputRegs;
        QVERIFY(OpenPanelFor(30));
        panel = frmQIM_P750::instance();
        Press(QStringLiteral("Cmd_ControlLoop3"));
        auto* dialog = frmQIM_P750_ControlLoop::instance();
        QVERIFY(dialog);

        useLocale(locale);
        enter(dialog, box, text);
        Press(QStringLiteral("Cmd_OK"));

        if (expected == Refused) {
            QCOMPARE(messages(), QStringList{message[row]});
            QVERIFY(TempOutputRegs == image);
            QVERIFY(frmQIM_P750_ControlLoop::instance() == dialog && dialog->isVisible());
            QVERIFY(keeps(dialog, box, text));
        } else {
            QVERIFY(messages().isEmpty());
            QTRY_VERIFY(!frmQIM_P750_ControlLoop::instance());
            auto want = image;
            want[base + row] = expected;
            QVERIFY(TempOutputRegs == want);
        }
        // The dialog edits the image only: nothing goes to the module.
        QTest::qWait(20);
        QVERIFY(bus->requests().isEmpty());
    }
};

QIM_TEST_MAIN(TestInputs)
#include "tst_inputs.moc"
