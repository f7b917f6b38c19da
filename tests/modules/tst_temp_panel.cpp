// The temperature panel against the simulated module: what a poll shows,
// what every write puts on the wire, and how polling starts and ends.
#include "General.h"
#include "Link.h"
#include "MessagePresenter.h"
#include "Panels.h"
#include "Pictures.h"
#include "SimBus.h"
#include "SimModels.h"
#include "StatusPanels.h"
#include "TempTestSupport.h"
#include "TestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

using namespace qim;
using namespace qimtest;

namespace {
constexpr uint8_t Slave = 4;

int led(int loop, const char* suffix) {
    auto* p = Find<StatePicture>(QStringLiteral("StatusLED%1_%2").arg(loop).arg(suffix));
    return p ? p->state() : -1;
}
QString sb(int i) {
    auto* s = Find<StatusPanels>(QStringLiteral("SB"));
    return s ? s->text(i) : QString();
}
bool enabled(const QString& name) {
    auto* w = Find(name);
    return w && w->isEnabled();
}
int pollCount() {
    const QString t = sb(2);
    return t.startsWith(QLatin1String("Poll: ")) ? t.mid(6).toInt() : -1;
}

QList<qimsim::RequestRecord> requestsOf(const qimsim::Bus& bus, int function) {
    QList<qimsim::RequestRecord> out;
    for (const auto& r : bus.requests())
        if (r.function == function)
            out << r;
    return out;
}
} // namespace

class TestTempPanel : public QObject {
    Q_OBJECT
    std::unique_ptr<qimsim::Bus> bus;
    qimsim::Module* module = nullptr;

    // Types the interval and presses Scan.
    void scan(const QString& interval) {
        Find<QLineEdit>("TextScanTimer")->setText(interval);
        Press("CmdScan");
    }
    // Stops polling and waits until the panel is idle again.
    void stop() {
        Press("CmdStop");
        QTRY_COMPARE_WITH_TIMEOUT(sb(3), QStringLiteral("STOP"), 10000);
    }
    // Waits until `n` more polls have finished: a poll's request goes out
    // only after the previous poll was counted.
    void polls(int n) {
        const auto target = requestsOf(*bus, 4).size() + n + 1;
        QTRY_VERIFY_WITH_TIMEOUT(requestsOf(*bus, 4).size() >= target, 10000);
    }

private Q_SLOTS:
    void initTestCase() { qimtest::QuietOffscreenPlatform(); }

    void init() {
        Link::instance().reset();
        AssignLinkDefaults();
        bus = std::make_unique<qimsim::Bus>();
        module = bus->addModule(Slave, 30);
        QVERIFY(bus->listenTcp(QHostAddress::LocalHost, 0));
        General::CommMode = 1;
        General::IPAddress = QStringLiteral("127.0.0.1");
        General::ServerPort = bus->tcpPort();
        General::TCPTimeout = 300;
        General::TCPConnectTimeout = 500;
        FreshTemperatureStart(Slave);
        QVERIFY(OpenPanelFor(30));
        QVERIFY(frmQIM_P750::instance());
    }
    void cleanup() {
        QVERIFY(ClosePanel());
        Link::instance().reset();
        bus.reset();
        module = nullptr;
    }

    void loadsIdleForTheSelectedModule() {
        QCOMPARE(frmQIM_P750::instance()->windowTitle(), QStringLiteral("QIM-P750"));
        QCOMPARE(Text("lblAddress"), QStringLiteral("Address: 4"));
        QCOMPARE(Find<QLineEdit>("TextScanTimer")->text(), QStringLiteral("100"));
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
        QCOMPARE(sb(2), QStringLiteral("Poll: 0"));
        QCOMPARE(sb(3), QStringLiteral("STOP"));
        QVERIFY(enabled("CmdScan") && enabled("Cmd_Write") && enabled("CmdCancel"));
        QVERIFY(!enabled("CmdStop"));
        for (int n = 1; n <= 4; ++n) {
            QCOMPARE(Find<QWidget>(QStringLiteral("Frame%1").arg(n))->property("title").toString(),
                     QStringLiteral("Thermocuple %1/ Control Loop %1").arg(n));
            QCOMPARE(Text(QStringLiteral("Label_PVTemp%1").arg(n)), QStringLiteral("0"));
            QCOMPARE(Text(QStringLiteral("Label_HeaterPower%1").arg(n)), QStringLiteral("0%"));
            for (const char* s : frmQIM_P750::LedSuffixes)
                QCOMPARE(led(n, s), 0);
        }
        // Opening it again only brings it forward.
        auto* first = frmQIM_P750::instance();
        Find<QLineEdit>("TextScanTimer")->setText("250");
        QVERIFY(OpenPanelFor(30));
        QCOMPARE(frmQIM_P750::instance(), first);
        QCOMPARE(Find<QLineEdit>("TextScanTimer")->text(), QStringLiteral("250"));
        QVERIFY(bus->requests().isEmpty());
    }

    void otherRecordsCannotBeTalkedTo_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("selected");
        QTest::newRow("analog module selected") << 20 << 0;
        QTest::newRow("selection past the scan range") << 30 << 247;
    }
    void otherRecordsCannotBeTalkedTo() {
        QFETCH(int, code);
        QFETCH(int, selected);
        QVERIFY(ClosePanel());
        FreshTemperatureStart(Slave, static_cast<uint8_t>(code));
        DeviceTable[247] = DeviceTable[0];
        SelectedAddress = static_cast<int16_t>(selected);
        QVERIFY(OpenPanelFor(30));
        QCOMPARE(Text("lblAddress"), QStringLiteral("Address: "));
        for (const char* name : {"CmdScan", "CmdStop", "Cmd_Write", "Check_Relay1", "Slider_PWM1"})
            QVERIFY2(!enabled(name), name);
        // The dialogs only edit the image and stay usable.
        QVERIFY(enabled("Cmd_ConfigReg") && enabled("Cmd_ControlLoop1"));
    }

    void pollDecodesEveryLoop() {
        // Loop 1 carries the decoding cases one after another; the other
        // loops keep their own values all along.
        module->forceRead(4, 1, 100);
        module->forceRead(4, 2, 0x0800 + 0x07FF); // 4095: -1
        module->forceRead(4, 3, 0);
        module->forceRead(4, 5, (75 << 8) | 0x21);
        module->forceRead(4, 6, 0x00FF);
        module->forceRead(4, 7, 0x6400 | 0x90);
        module->forceRead(4, 9, 25);
        module->forceRead(4, 10, 255);
        module->forceRead(4, 11, 128);
        scan("0");
        QCOMPARE(sb(3), QStringLiteral("SCAN"));
        const struct {
            uint16_t pv, cj;
            const char *pvText, *cjText;
        } cases[] = {{0x0FFF, 200, "-1", "-56"},
                     {2047, 127, "2047", "127"},
                     {2048, 0, "-2048", "0"},
                     {5000, 300, "904", "44"},
                     {0, 128, "0", "-128"}};
        for (const auto& c : cases) {
            module->forceRead(4, 0, c.pv);
            module->forceRead(4, 8, c.cj);
            QTRY_COMPARE_WITH_TIMEOUT(Text("Label_PVTemp1"), QLatin1String(c.pvText), 5000);
            QTRY_COMPARE_WITH_TIMEOUT(Text("Label_CJTemp1"), QLatin1String(c.cjText), 5000);
        }
        QCOMPARE(TempInputRegs[0], 0);
        QCOMPARE(TempInputRegs[8], -128);

        QCOMPARE(Text("Label_PVTemp2"), QStringLiteral("100"));
        QCOMPARE(Text("Label_PVTemp3"), QStringLiteral("-1"));
        QCOMPARE(Text("Label_CJTemp2"), QStringLiteral("25"));
        QCOMPARE(Text("Label_CJTemp3"), QStringLiteral("-1"));

        // Loop 2's status word: high byte 75, low byte 0x21.
        QCOMPARE(TempInputRegs[5], (75 << 8) | 0x21);
        QCOMPARE(Text("Label_HeaterPower2"), QStringLiteral("75%"));
        QCOMPARE(led(2, "OC"), 1);
        QCOMPARE(led(2, "ON"), 1);
        for (const char* s : {"SCG", "SCV", "TCF", "TS", "ALL", "ALH"})
            QCOMPARE(led(2, s), 0);
        // Every bit has its own LED.
        QCOMPARE(Text("Label_HeaterPower3"), QStringLiteral("0%"));
        for (const char* s : frmQIM_P750::LedSuffixes)
            QCOMPARE(led(3, s), 1);
        QCOMPARE(Text("Label_HeaterPower4"), QStringLiteral("100%"));
        QCOMPARE(led(4, "TS"), 1);
        QCOMPARE(led(4, "ALH"), 1);
        QCOMPARE(led(4, "OC") + led(4, "SCG") + led(4, "SCV") + led(4, "TCF") + led(4, "ON") +
                     led(4, "ALL"),
                 0);
        stop();

        // The poll asks for input registers 0..11 of our slave, nothing else.
        const auto reads = bus->requests();
        QVERIFY(!reads.isEmpty());
        for (const auto& r : reads) {
            QCOMPARE(r.address, Slave);
            QCOMPARE(r.function, uint8_t(4));
            QCOMPARE(r.start, uint16_t(0));
            QCOMPARE(r.count, uint16_t(12));
        }
        // Transaction identifiers count up from 1 for each Scan.
        QCOMPARE(reads.first().transactionId, uint16_t(1));
        QCOMPARE(reads.last().transactionId, uint16_t(reads.size()));
    }

    void onlyWholeRepliesAreDecoded() {
        TempInputRegs.fill(7);
        Reply r;
        r.status = Status::Ok;
        r.tcp = true;
        r.bytes = QByteArray::fromHex("0404180001");
        r.bytes += QByteArray(2 * 11 - 1, '\0'); // one byte short of twelve registers
        QVERIFY(!DecodeTempInputs(r));
        r.bytes += '\0';
        r.status = 2; // an exception code never counts as data
        QVERIFY(!DecodeTempInputs(r));
        QCOMPARE(TempInputRegs, (std::array<int32_t, 12>{7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}));
        r.status = Status::Ok;
        QVERIFY(DecodeTempInputs(r));
        QCOMPARE(TempInputRegs[0], 1);
    }

    void failedPollsCountAndKeepTheDisplay() {
        module->forceRead(4, 0, 321);
        scan("0");
        QTRY_COMPARE_WITH_TIMEOUT(Text("Label_PVTemp1"), QStringLiteral("321"), 5000);
        stop();
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));

        // Scan restarts both counts.
        module->forceRead(4, 0, 999);
        qimsim::Fault f;
        f.kind = qimsim::Fault::Exception;
        f.exceptionCode = 4;
        module->setFault(4, f);
        scan("0");
        polls(3);
        stop();
        const int errors = sb(1).mid(5).toInt();
        QVERIFY(errors >= 3);
        QCOMPARE(errors, pollCount()); // every poll failed, and each counted once
        QCOMPARE(Text("Label_PVTemp1"), QStringLiteral("321"));
        QCOMPARE(TempInputRegs[0], 321);

        f.kind = qimsim::Fault::Silence;
        module->setFault(4, f);
        scan("0");
        polls(2);
        stop();
        QCOMPARE(sb(1).mid(5).toInt(), pollCount());
        QCOMPARE(Text("Label_PVTemp1"), QStringLiteral("321"));
        QVERIFY(MessagePresenter::instance().history().isEmpty());
    }

    void deadLinkEndsPolling() {
        scan("0");
        polls(2);
        bus->stop(); // nobody listens on the port any more: 252
        QTRY_COMPARE_WITH_TIMEOUT(sb(3), QStringLiteral("STOP"), 10000);
        QVERIFY(enabled("CmdScan") && enabled("CmdCancel") && enabled("Cmd_Write"));
        QVERIFY(!enabled("CmdStop"));
        QVERIFY(!frmQIM_P750::instance()->polling());
    }

    void intervalIsValidated_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("interval"); // -1: rejected
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("letters") << "fast" << -1;
        QTest::newRow("negative") << "-1" << -1;
        QTest::newRow("above") << "10000.5" << -1;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("halves to even") << "99.5" << 100;
        QTest::newRow("upper bound") << "10000" << 10000;
    }
    void intervalIsValidated() {
        QFETCH(QString, typed);
        QFETCH(int, interval);
        scan(typed);
        if (interval < 0) {
            QCOMPARE(MessagePresenter::instance().history(),
                     QStringList{"Time between polls must be a number from 0 to 10000"});
            QCOMPARE(sb(3), QStringLiteral("STOP"));
            QCOMPARE(Find<QLineEdit>("TextScanTimer")->text(), typed);
            QVERIFY(enabled("CmdScan") && !enabled("CmdStop"));
            QTest::qWait(100);
            QVERIFY(bus->requests().isEmpty());
            return;
        }
        QVERIFY(MessagePresenter::instance().history().isEmpty());
        QCOMPARE(frmQIM_P750::instance()->pollInterval(), interval);
        QCOMPARE(sb(3), QStringLiteral("SCAN"));
        if (interval == 10000) {
            // The first poll waits one interval; closing by the frame ends
            // polling before it ever goes out.
            QTest::qWait(300);
            QVERIFY(bus->requests().isEmpty());
            frmQIM_P750::instance()->close();
            QTRY_VERIFY(!frmQIM_P750::instance());
            QTest::qWait(300);
            QVERIFY(bus->requests().isEmpty());
            return;
        }
        polls(2);
        stop();
    }

    void pollingLocksTheWrites() {
        scan("20");
        const QStringList locked = {"CmdScan",      "CmdCancel",    "TextScanTimer", "Cmd_Write",
                                    "Check_Relay1", "Check_Relay4", "Slider_PWM1",   "Slider_PWM4"};
        for (const QString& n : locked)
            QVERIFY2(!enabled(n), qPrintable(n));
        QVERIFY(enabled("CmdStop"));
        // The dialogs only edit the image: open while polling.
        for (const char* n : {"Cmd_ConfigReg", "Cmd_ControlReg", "Cmd_ControlLoop2"})
            Press(n);
        QVERIFY(Find("frmQIM_P750_Config") && Find("frmQIM_P750_ControlLoop"));
        polls(2);
        stop();
        for (const QString& n : locked)
            QVERIFY2(enabled(n), qPrintable(n));
        QVERIFY(!enabled("CmdStop"));
        // Stop is final: nothing goes out afterwards.
        const int sent = static_cast<int>(bus->requests().size());
        QTest::qWait(200);
        QCOMPARE(bus->requests().size(), sent);
    }

    void closingByTheFrameWhilePollingEndsPolling() {
        scan("0");
        polls(3);
        frmQIM_P750::instance()->close();
        QTRY_VERIFY(!frmQIM_P750::instance());
        QTRY_COMPARE(Link::instance().pending(), 0);
        const int sent = static_cast<int>(bus->requests().size());
        QTest::qWait(300);
        QCOMPARE(bus->requests().size(), sent);
    }

    void setPointLabelShowsTheImageAfterAPoll() {
        Press("Cmd_ControlLoop3");
        Find<QLineEdit>("Text_SetPoint")->setText("333");
        Press("Cmd_OK");
        QTRY_VERIFY(!Find("frmQIM_P750_ControlLoop"));
        QCOMPARE(TempOutputRegs[17], 333);
        QCOMPARE(Text("Label_SPTemp3"), QStringLiteral("0"));
        scan("0");
        QTRY_COMPARE_WITH_TIMEOUT(Text("Label_SPTemp3"), QStringLiteral("333"), 5000);
        QCOMPARE(Text("Label_SPTemp1"), QStringLiteral("0"));
        stop();
        // Not a value read from the module: nothing was written to it.
        QVERIFY(requestsOf(*bus, 16).isEmpty());
    }

    void relaysSwitchCoilsAtOnce() {
        General::TransactionId = 77;
        auto* relay = Find<QCheckBox>("Check_Relay3");
        QCOMPARE(relay->text(), QStringLiteral("Relay3"));
        relay->click();
        QTRY_COMPARE(requestsOf(*bus, 5).size(), 1);
        relay->click();
        QTRY_COMPARE(requestsOf(*bus, 5).size(), 2);
        const auto coils = requestsOf(*bus, 5);
        QCOMPARE(coils[0].start, uint16_t(2));
        QCOMPARE(coils[0].values, QVector<uint16_t>{0xFF00});
        QCOMPARE(coils[1].start, uint16_t(2));
        QCOMPARE(coils[1].values, QVector<uint16_t>{0});
        // Relay writes leave the transaction identifier as it was.
        QCOMPARE(coils[0].transactionId, uint16_t(77));
        QCOMPARE(General::TransactionId, 77);
        QCOMPARE(module->coil(2), std::optional<bool>(false));

        Find<QCheckBox>("Check_Relay1")->click();
        QTRY_COMPARE(module->coil(0), std::optional<bool>(true));
        // A failed relay write shows nothing and counts nothing.
        qimsim::Fault f;
        f.kind = qimsim::Fault::Exception;
        f.exceptionCode = 2;
        module->setFault(5, f);
        Find<QCheckBox>("Check_Relay2")->click();
        QTRY_COMPARE(requestsOf(*bus, 5).size(), 4);
        QTest::qWait(50);
        QVERIFY(Find<QCheckBox>("Check_Relay2")->isChecked());
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
        QVERIFY(MessagePresenter::instance().history().isEmpty());
    }

    void slidersWriteTheLastPosition() {
        auto* s2 = Find<QSlider>("Slider_PWM2");
        QCOMPARE(s2->minimum(), 0);
        QCOMPARE(s2->maximum(), 100);
        s2->setValue(40);
        QCOMPARE(TempOutputRegs[2], 40);
        QCOMPARE(Text("Label_PWM2"), QStringLiteral("40%"));
        QTRY_COMPARE(requestsOf(*bus, 6).size(), 1);
        const auto w = requestsOf(*bus, 6).first();
        QCOMPARE(w.start, uint16_t(2));
        QCOMPARE(w.values, QVector<uint16_t>{40});
        QCOMPARE(module->holding(2), std::optional<uint16_t>(40));

        // A drag while the module is slow: positions still waiting are
        // replaced, so far fewer writes go out and the last one wins, per slider.
        bus->clearRequests();
        qimsim::Fault slow;
        slow.kind = qimsim::Fault::Delay;
        slow.delayMs = 100;
        module->setFault(6, slow);
        auto* s1 = Find<QSlider>("Slider_PWM1");
        auto* s4 = Find<QSlider>("Slider_PWM4");
        for (int v = 1; v <= 100; ++v) {
            s1->setValue(v);
            if (v % 10 == 0)
                s4->setValue(v / 10);
        }
        QCOMPARE(Text("Label_PWM1"), QStringLiteral("100%"));
        QTRY_COMPARE_WITH_TIMEOUT(Link::instance().pending(), 0, 10000);
        QCOMPARE(module->holding(1), std::optional<uint16_t>(100));
        QCOMPARE(module->holding(4), std::optional<uint16_t>(10));
        const auto writes = requestsOf(*bus, 6);
        QVERIFY2(writes.size() <= 6, qPrintable(QString::number(writes.size())));
        QCOMPARE(writes.last().values, QVector<uint16_t>{10});
        QCOMPARE(TempOutputRegs[1], 100);
        QCOMPARE(TempOutputRegs[4], 10);
    }

    void writeSendsTheImageInThreeRequests() {
        General::TransactionId = 500;
        Press("Cmd_Write");
        QTRY_COMPARE_WITH_TIMEOUT(bus->requests().size(), 3, 5000);
        const auto r = bus->requests();
        QCOMPARE(r[0].function, uint8_t(6));
        QCOMPARE(r[0].start, uint16_t(5));
        QCOMPARE(r[0].values, QVector<uint16_t>{0});
        QCOMPARE(r[1].function, uint8_t(6));
        QCOMPARE(r[1].start, uint16_t(6));
        QCOMPARE(r[1].values, QVector<uint16_t>{0});
        QCOMPARE(r[2].function, uint8_t(16));
        QCOMPARE(r[2].start, uint16_t(7));
        QCOMPARE(r[2].count, uint16_t(20));
        QCOMPARE(r[2].values, QVector<uint16_t>(20, 0));
        for (const auto& q : r) {
            QCOMPARE(q.transactionId, uint16_t(0));
            QCOMPARE(q.address, Slave);
        }
        QTRY_COMPARE(Link::instance().pending(), 0);
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));

        // What the dialogs built reaches the module's registers.
        Press("Cmd_ConfigReg");
        Find<QComboBox>("Combo_Type")->setCurrentIndex(4);
        Press("Cmd_ControlReg");
        Find<QComboBox>("Combo_ControlLoop4")->setCurrentIndex(2);
        Press("Cmd_ControlLoop4");
        auto* loop = Find(QStringLiteral("frmQIM_P750_ControlLoop"));
        for (const auto& [box, value] : {std::pair{"Text_SetPoint", "1000"},
                                         {"Text_CycleTime", "3"},
                                         {"Text_Band", "20"},
                                         {"Text_AlarmHigh", "1010"},
                                         {"Text_AlarmLow", "5"}})
            loop->findChild<QLineEdit*>(box)->setText(value);
        loop->findChild<QPushButton*>("Cmd_OK")->click();
        QTRY_VERIFY(!Find(QStringLiteral("frmQIM_P750_ControlLoop")));
        bus->clearRequests();
        Press("Cmd_Write");
        QTRY_COMPARE_WITH_TIMEOUT(bus->requests().size(), 3, 5000);
        QTRY_COMPARE(Link::instance().pending(), 0);
        QCOMPARE(module->holding(5), std::optional<uint16_t>(0x40));
        QCOMPARE(module->holding(6), std::optional<uint16_t>(0x2000));
        const QVector<uint16_t> block{1000, 3, 20, 1010, 5};
        QCOMPARE(bus->requests()[2].values.mid(15), block);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(module->holding(22 + i), std::optional<uint16_t>(block[i]));
    }

    void writeCountsOnlyTheLastRequest() {
        qimsim::Fault f;
        f.kind = qimsim::Fault::Exception;
        f.exceptionCode = 3;
        f.times = 1;
        // Register 5 fails: the count stays.
        module->setFault(6, f);
        Press("Cmd_Write");
        QTRY_COMPARE_WITH_TIMEOUT(bus->requests().size(), 3, 5000);
        QTRY_COMPARE(Link::instance().pending(), 0);
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
        // The function 16 request fails: one more error, though 5 and 6 went through.
        module->clearFaults();
        module->setFault(16, f);
        Press("Cmd_Write");
        QTRY_COMPARE_WITH_TIMEOUT(sb(1), QStringLiteral("Err: 1"), 5000);
        QCOMPARE(sb(2), QStringLiteral("Poll: 0"));
        QCOMPARE(bus->requests().size(), 6);
        // A silent module fails it too.
        f.kind = qimsim::Fault::Silence;
        module->setFault(16, f);
        Press("Cmd_Write");
        QTRY_COMPARE_WITH_TIMEOUT(sb(1), QStringLiteral("Err: 2"), 5000);
    }

    void reopeningShowsTheLastGoodPoll() {
        module->forceRead(4, 2, 456);
        module->forceRead(4, 6, (40 << 8) | 0x01);
        TempOutputRegs[LoopBase(3)] = 470;
        scan("0");
        QTRY_COMPARE_WITH_TIMEOUT(Text("Label_PVTemp3"), QStringLiteral("456"), 5000);
        stop();
        Find<QSlider>("Slider_PWM3")->setValue(60);
        Find<QCheckBox>("Check_Relay3")->click();
        QTRY_COMPARE(Link::instance().pending(), 0);
        Press("CmdCancel");
        QTRY_VERIFY(!frmQIM_P750::instance());

        module->forceRead(4, 2, 1);
        QVERIFY(OpenPanelFor(30));
        QCOMPARE(Text("Label_PVTemp3"), QStringLiteral("456"));
        QCOMPARE(Text("Label_HeaterPower3"), QStringLiteral("40%"));
        QCOMPARE(led(3, "OC"), 1);
        QCOMPARE(Text("Label_SPTemp3"), QStringLiteral("470"));
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
        QCOMPARE(sb(2), QStringLiteral("Poll: 0"));
        // Outputs start at their design positions; the image keeps the PWM value.
        QCOMPARE(Find<QSlider>("Slider_PWM3")->value(), 0);
        QCOMPARE(Text("Label_PWM3"), QStringLiteral("0%"));
        QVERIFY(!Find<QCheckBox>("Check_Relay3")->isChecked());
        QCOMPARE(TempOutputRegs[3], 60);
    }

    // A user heats loop 1 to 120 degrees: set point and mode through the
    // dialogs, written, then polled while the module's loop does its work.
    void storyHeatingALoopToItsSetPoint() {
        auto* p750 = static_cast<qimsim::TemperatureModule*>(module);
        bus->setSpeedFactor(40);
        scan("50");
        QTRY_VERIFY_WITH_TIMEOUT(pollCount() >= 1, 5000);
        const int room = Text("Label_PVTemp1").toInt();
        QVERIFY2(room > 15 && room < 30, qPrintable(Text("Label_PVTemp1")));
        QCOMPARE(led(1, "ON"), 0);
        QCOMPARE(Text("Label_HeaterPower1"), QStringLiteral("0%"));
        stop();

        Press("Cmd_ConfigReg");
        Find<QCheckBox>("Check_Alarm1")->setChecked(true);
        Press("Cmd_ControlReg");
        Find<QComboBox>("Combo_ControlLoop1")->setCurrentIndex(1); // ON/OFF
        Press("Cmd_ControlLoop1");
        auto* loop = Find(QStringLiteral("frmQIM_P750_ControlLoop"));
        for (const auto& [box, value] : {std::pair{"Text_SetPoint", "120"},
                                         {"Text_CycleTime", "0"},
                                         {"Text_Band", "10"},
                                         {"Text_AlarmHigh", "130"},
                                         {"Text_AlarmLow", "100"}})
            loop->findChild<QLineEdit*>(box)->setText(value);
        loop->findChild<QPushButton*>("Cmd_OK")->click();
        QTRY_VERIFY(!Find(QStringLiteral("frmQIM_P750_ControlLoop")));
        Press("Cmd_Write");
        // Loop 2 stays manual: its PWM output is its heater.
        Find<QSlider>("Slider_PWM2")->setValue(50);
        QTRY_COMPARE_WITH_TIMEOUT(Link::instance().pending(), 0, 5000);
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
        QCOMPARE(module->holding(6), std::optional<uint16_t>(0x0001));
        QCOMPARE(module->holding(7), std::optional<uint16_t>(120));

        scan("50");
        QTRY_COMPARE_WITH_TIMEOUT(Text("Label_SPTemp1"), QStringLiteral("120"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(led(1, "ON") == 1 && Text("Label_HeaterPower1") == "100%", 10000);
        QCOMPARE(led(1, "ALL"), 1); // still below the alarm low
        QTRY_VERIFY_WITH_TIMEOUT(Text("Label_PVTemp1").toInt() >= 110, 20000);
        // Over the set point the heater goes off, and on again below it.
        QTRY_VERIFY_WITH_TIMEOUT(led(1, "ON") == 0 && Text("Label_HeaterPower1") == "0%", 20000);
        QVERIFY(std::abs(Text("Label_PVTemp1").toInt() - 120) <= 3);
        QCOMPARE(led(1, "ALL"), 0);
        QCOMPARE(led(1, "ALH"), 0);
        QTRY_VERIFY_WITH_TIMEOUT(led(1, "ON") == 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(led(1, "TS"), 1, 20000);
        QVERIFY(std::abs(p750->temperature(0) - 120) < 4);
        // Loop 2 heats at half power, shown as such.
        QCOMPARE(Text("Label_HeaterPower2"), QStringLiteral("50%"));
        QCOMPARE(led(2, "ON"), 1);
        QTRY_VERIFY_WITH_TIMEOUT(Text("Label_PVTemp2").toInt() > room + 20, 20000);
        stop();
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
    }

    void servesOverTheSerialLink() {
        QVERIFY(bus->openPty(3));
        General::CommMode = 0;
        General::ComPortIndex = 2; // COM3
        General::SerialTimeout = 300;
        module->forceRead(4, 0, 0x0FFF);
        module->forceRead(4, 4, (12 << 8) | 0x20);
        scan("10");
        QTRY_COMPARE_WITH_TIMEOUT(Text("Label_PVTemp1"), QStringLiteral("-1"), 5000);
        QCOMPARE(Text("Label_HeaterPower1"), QStringLiteral("12%"));
        QCOMPARE(led(1, "ON"), 1);
        stop();
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));

        bus->clearRequests();
        Find<QCheckBox>("Check_Relay4")->click();
        Find<QSlider>("Slider_PWM4")->setValue(25);
        Press("Cmd_Write");
        QTRY_COMPARE_WITH_TIMEOUT(bus->requests().size(), 5, 5000);
        QTRY_COMPARE(Link::instance().pending(), 0);
        for (const auto& r : bus->requests())
            QVERIFY(!r.tcp);
        QCOMPARE(module->coil(3), std::optional<bool>(true));
        QCOMPARE(module->holding(4), std::optional<uint16_t>(25));
        QCOMPARE(bus->requests()[4].function, uint8_t(16));
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
    }
};

QIM_TEST_MAIN(TestTempPanel)
#include "tst_temp_panel.moc"
