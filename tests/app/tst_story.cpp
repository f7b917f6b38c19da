// Writes given just before a panel closes all reach the module.
#include "Driver.h"
#include "SimBus.h"

#include <QCheckBox>
#include <QSlider>

using namespace qim;
using namespace qimtest;
using namespace apptest;

class TestStory : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { quietOffscreenPlatform(); }

    // The user gives writes while another window's read of a silent module
    // holds the link, then closes the panel at once: every write still
    // arrives, in order, the newest slider position included, and nothing
    // else of the panel's does; one the module refuses is still reported.
    void writesGivenBeforeClosingAllArrive_data() {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<bool>("temperature"); // the temperature panel, or the discrete one
        for (const bool tcp : {true, false})
            for (const bool temperature : {true, false})
                QTest::addRow("%s, %s", temperature ? "temperature" : "discrete",
                              tcp ? "tcp" : "pty")
                    << tcp << temperature;
    }
    void writesGivenBeforeClosingAllArrive() {
        QFETCH(bool, tcp);
        QFETCH(bool, temperature);
        App app;
        qimsim::Bus bus;
        QVERIFY(bus.listenTcp(QHostAddress::LocalHost, 0) && bus.openPty(5));
        qimsim::Module* module = bus.addModule(1, temperature ? 30 : 10);
        qimsim::Fault refused;
        refused.kind = qimsim::Fault::Exception;
        refused.exceptionCode = 2;
        module->setFault(16, refused);
        aim(app.link, tcp, bus.tcpPort());
        configure(app.link, [](LinkSettings& s) { s.comPort = 5; });
        QObject other; // nobody at address 9: its read waits for the timeout
        app.link.readHoldingRegisters(9, 0, 1, {&other, [](const Reply&) {}});

        QVERIFY(app.openPanel(1, temperature ? 30 : 10));
        const Window panel(temperature ? QStringLiteral("frmQIM_P750")
                                       : QStringLiteral("frmQIM_K520"));
        int queuedAtClose = 0;
        connect(panel.widget(), &QObject::destroyed, this,
                [&] { queuedAtClose = app.link.pending() - 1; });
        if (temperature) {
            panel.get<QCheckBox>("Check_Relay3")->click();
            panel.get<QSlider>("Slider_PWM2")->setValue(30);
            panel.get<QSlider>("Slider_PWM2")->setValue(45);
            panel.click("Cmd_Write");
            panel.click("CmdCancel");
        } else {
            panel.get<QCheckBox>("Chk_Output1")->click();
            panel.type("TextScanTimer", "0");
            panel.click("CmdScan");
            // Its cycle's write waits behind the other window's read; Close
            // is off while polling: the title bar closes it.
            QTRY_COMPARE(app.link.pending(), 2);
            panel.close();
        }
        QTRY_VERIFY(!panel.widget());
        QVERIFY2(queuedAtClose > 0, "the writes must still be waiting when the panel goes");
        QTRY_COMPARE_WITH_TIMEOUT(app.link.pending(), 0, 10000);
        const auto arrived = [&bus] {
            QStringList out; // function and address of each request to the panel's module
            for (const qimsim::RequestRecord& r : bus.requests())
                if (r.address == 1)
                    out << QStringLiteral("%1 %2").arg(r.function).arg(r.start);
            return out;
        };
        const QStringList writes =
            temperature ? QStringList{"5 2", "6 2", "6 5", "6 6", "16 7"} : QStringList{"6 0"};
        QCOMPARE(arrived(), writes);
        QCOMPARE(module->holding(temperature ? 2 : 0), temperature ? 45 : 1);
        QCOMPARE(module->coil(2).value_or(false), temperature); // 0xFF00 is on
        QCOMPARE(app.messages(), temperature
                                     ? QStringList{" Module 1: the write of holding registers 7 to "
                                                   "26 failed (exception code 2)."}
                                     : QStringList());
        QTest::qWait(100); // nothing more goes out
        QCOMPARE(arrived(), writes);
    }
};

QIM_TEST_MAIN(TestStory)
#include "tst_story.moc"
