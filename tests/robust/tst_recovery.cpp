// The windows after hostile modules: a bus scan counts the modules that
// misbehave and still finds the good ones, and all of them once they behave;
// a panel counts each failed poll and shows the module again as soon as it
// answers; a port pulled mid-scan ends the scan with its message, and the
// next scan works once the port is back.
#include "../app/Driver.h"
#include "DiscretePanel.h"
#include "Errors.h"
#include "Pictures.h"
#include "ScanDialog.h"
#include "SimBus.h"

#include <QListWidget>
#include <QSignalSpy>

using namespace qim;
using namespace qimtest;
using namespace apptest;
using Kind = qimsim::Fault::Kind;
using End = ScanDialog::End;

namespace {
qimsim::Fault faultOf(Kind kind, int times = -1, QByteArray garbage = {}) {
    qimsim::Fault f;
    f.kind = kind;
    f.times = times;
    f.exceptionCode = 4;
    f.garbage = std::move(garbage);
    return f;
}

// A well-formed identification reply from `unit` that carries only five
// bytes of the block, framed for the link.
QByteArray shortIdentification(bool tcp, uint8_t unit) {
    const QByteArray pdu = QByteArray(1, char(unit)) + QByteArray::fromHex("11050a01000141");
    return tcp ? QByteArray::fromHex("000000000008") + pdu : WithCrc(pdu);
}
} // namespace

class TestRecovery : public QObject {
    Q_OBJECT
    std::unique_ptr<App> app;
    std::unique_ptr<qimsim::Bus> bus;

    void aim(bool tcp, int timeoutMs = 1000) {
        app->settings([&](LinkSettings& s) {
            s.transport = tcp ? LinkSettings::Transport::Tcp : LinkSettings::Transport::Serial;
            s.port = bus->tcpPort();
            s.serialTimeoutMs = s.tcpTimeoutMs = timeoutMs;
        });
    }
    std::optional<End> scan(Window& d, int from, int to) {
        QSignalSpy ended(qobject_cast<ScanDialog*>(d.widget()), &ScanDialog::scanEnded);
        d.type("TextStartAddress", QString::number(from));
        d.type("TextEndAddress", QString::number(to));
        d.type("TextTime", QStringLiteral("0"));
        d.click("CmdStart");
        if (!ended.wait(30000))
            return std::nullopt;
        return ended.at(0).at(0).value<End>();
    }
    QList<int> found() const {
        QList<int> out;
        const int n = app->window().get<QListWidget>("DeviceList")->count();
        for (int i = 0; i < n; ++i)
            out << app->main->devices().at(i).address;
        return out;
    }
    Window openScan() {
        app->window().click(QStringLiteral("mnuScan"));
        return Window(QStringLiteral("frmScanBus"));
    }

private Q_SLOTS:
    void initTestCase() { QuietOffscreenPlatform(); }
    void init() {
        bus = std::make_unique<qimsim::Bus>();
        QVERIFY(bus->listenTcp(QHostAddress::LocalHost, 0));
        QVERIFY(bus->openPty(2));
        app = std::make_unique<App>();
    }
    void cleanup() {
        app.reset();
        bus.reset();
    }

    void scanAcrossMisbehavingModules_data() {
        QTest::addColumn<bool>("tcp");
        QTest::newRow("rtu") << false;
        QTest::newRow("tcp") << true;
    }
    void scanAcrossMisbehavingModules() {
        QFETCH(bool, tcp);
        // Good modules at 1, 8 and 9; between them one of each misbehaviour.
        for (int a = 1; a <= 9; ++a)
            bus->addModule(static_cast<uint8_t>(a), a == 8 ? 20 : a == 9 ? 30 : 10);
        bus->module(2)->setFault(17, faultOf(Kind::Silence));
        bus->module(3)->setFault(17, faultOf(Kind::Garbage));
        bus->module(4)->setFault(17, faultOf(Kind::Exception));
        bus->module(5)->setFault(17, faultOf(Kind::Garbage, -1, shortIdentification(tcp, 5)));
        bus->module(6)->setFault(17, faultOf(Kind::ExtraByte));
        bus->module(7)->setFault(17, faultOf(tcp ? Kind::CloseMidReply : Kind::WrongCrc));
        aim(tcp);
        Window d = openScan();
        QCOMPARE(scan(d, 1, 9), End::Natural);
        QCOMPARE(d.text("lblErrorCount"), QStringLiteral("6"));
        QCOMPARE(d.text("lblDeviceCount"), QStringLiteral("3"));
        QCOMPARE(found(), (QList<int>{1, 8, 9}));
        QCOMPARE(app->main->devices().at(1).code, 20);
        QCOMPARE(app->main->devices().at(3).code, 0); // nothing decoded from a bad reply
        QVERIFY(app->messages().isEmpty());

        for (int a = 2; a <= 7; ++a)
            bus->module(static_cast<uint8_t>(a))->clearFaults();
        QCOMPARE(scan(d, 1, 9), End::Natural);
        QCOMPARE(d.text("lblErrorCount"), QStringLiteral("0"));
        QCOMPARE(found(), (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    }

    void panelCountsAFaultyModuleAndRecovers_data() {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<int>("fault");
        QTest::newRow("rtu silence") << false << int(Kind::Silence);
        QTest::newRow("rtu wrong crc") << false << int(Kind::WrongCrc);
        QTest::newRow("tcp exception") << true << int(Kind::Exception);
        QTest::newRow("tcp closed mid-reply") << true << int(Kind::CloseMidReply);
    }
    void panelCountsAFaultyModuleAndRecovers() {
        QFETCH(bool, tcp);
        QFETCH(int, fault);
        qimsim::Module* module = bus->addModule(5, 10);
        module->forceRead(3, 0, 0x01); // input 1 lit
        aim(tcp);
        DeviceRecord record;
        record.address = 5;
        record.code = 10;
        QVERIFY(app->main->openPanel(record));
        Window p(QStringLiteral("frmQIM_K520"));
        const auto lit = [&p](int n) {
            return p.get<StatePicture>(QStringLiteral("Image_Input%1").arg(n))->state() == 1;
        };
        p.type("TextScanTimer", QStringLiteral("10"));
        p.click("CmdScan");
        QTRY_VERIFY(lit(1));
        QTRY_COMPARE(p.status(1), QStringLiteral("Err: 0"));

        // Three reads go wrong; then the module answers with input 8 lit.
        module->setFault(3, faultOf(Kind(fault), 3));
        module->forceRead(3, 0, 0x80);
        QTRY_VERIFY_WITH_TIMEOUT(lit(8), 10000);
        QVERIFY(!lit(1));
        QTRY_COMPARE(p.status(1), QStringLiteral("Err: 3")); // counts are drawn once a frame
        const int polls = p.status(2).mid(6).toInt();
        QTRY_VERIFY(p.status(2).mid(6).toInt() >= polls + 3);
        QCOMPARE(p.status(1), QStringLiteral("Err: 3"));
        p.click("CmdStop");
        QTRY_VERIFY(p.enabled("CmdScan"));
        QVERIFY(app->messages().isEmpty());
    }

    void portPulledMidScan() {
        for (int a = 1; a <= 5; ++a)
            bus->addModule(static_cast<uint8_t>(a), 10);
        // Module 3 keeps the scan waiting while its adapter is pulled.
        bus->module(3)->setFault(17, faultOf(Kind::Silence));
        aim(false, 5000);
        Window d = openScan();
        connect(bus.get(), &qimsim::Bus::requestReceived, d.widget(),
                [this](const qimsim::RequestRecord& r) {
                    if (r.address == 3)
                        QTimer::singleShot(50, bus.get(), [this] { bus->closePty(); });
                });
        const QStringList pulled{Errors::PortUnavailableMessage(), "Connection Error"};
        QCOMPARE(scan(d, 1, 5), End::ConnectionError);
        QCOMPARE(app->messages(), pulled);
        QCOMPARE(d.text("lblDeviceCount"), QStringLiteral("2"));
        QCOMPARE(found(), (QList<int>{1, 2}));
        app->acceptMessages();
        // Once the port is back, the scan works again.
        disconnect(bus.get(), nullptr, d.widget(), nullptr);
        bus->module(3)->clearFaults();
        QVERIFY(bus->openPty(2));
        aim(false);
        QCOMPARE(scan(d, 1, 5), End::Natural);
        QCOMPARE(found(), (QList<int>{1, 2, 3, 4, 5}));
        QCOMPARE(app->messages(), pulled); // nothing new
    }
};

QIM_TEST_MAIN(TestRecovery)
#include "tst_recovery.moc"
