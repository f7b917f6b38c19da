// The windows after hostile modules: a bus scan counts the modules that
// misbehave under "Errors" and still finds the good ones, and finds them all
// once they behave; a panel counts each failed poll and shows the module
// again as soon as it answers properly; a serial port that vanishes in the
// middle of a scan ends it with the port's message and "Connection Error",
// and the next scan works once the port is back.
#include "../app/AppTest.h"
#include "../modules/PanelTestSupport.h"
#include "DeviceTable.h"
#include "Link.h"
#include "MainWindow.h"
#include "Pictures.h"
#include "ScanBusDialog.h"
#include "TestSupport.h"
#include "frmQIM_K520.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>

using namespace qim;
using namespace qimtest;
using Kind = qimsim::Fault::Kind;

namespace {

using End = ScanBusDialog::End;

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
    const QByteArray pdu = QByteArray::fromHex("11050a01000141");
    if (!tcp)
        return WithCrc(QByteArray(1, static_cast<char>(unit)) + pdu);
    QByteArray f = QByteArray::fromHex("00000000");
    f += char(0);
    f += static_cast<char>(pdu.size() + 1);
    f += static_cast<char>(unit);
    return f + pdu;
}

QString shows(const QObject* d, const char* name) {
    return apptest::child<QLabel>(d, name)->text();
}

void transports() {
    QTest::addColumn<bool>("tcp");
    QTest::newRow("rtu") << false;
    QTest::newRow("tcp") << true;
}

} // namespace

class TestRecovery : public QObject, paneltest::PanelFixture {
    Q_OBJECT
    QPointer<MainWindow> main;

    // The main window assigns the link defaults when it loads; the link is
    // aimed at the bus after that.
    void openMain(bool tcp) {
        main = new MainWindow;
        main->show();
        Link::instance().reset();
        General::SerialTimeout = 300;
        General::TCPTimeout = 300;
        General::TCPConnectTimeout = 1000;
        if (tcp) {
            General::CommMode = 1;
            General::IPAddress = QStringLiteral("127.0.0.1");
            General::ServerPort = bus->tcpPort();
        } else {
            General::CommMode = 0;
            General::ComPortIndex = 1; // COM2, where the bus publishes its pty
        }
    }
    ScanBusDialog* openScan() {
        main->openScanBus();
        return main->scanBus();
    }
    std::optional<End> scanBus(ScanBusDialog* d, int from, int to) {
        apptest::type(d, "TextStartAddress", QString::number(from));
        apptest::type(d, "TextEndAddress", QString::number(to));
        apptest::type(d, "TextTime", QStringLiteral("0"));
        QSignalSpy ended(d, &ScanBusDialog::scanEnded);
        apptest::click(d, "CmdStart");
        if (!d->scanning() || !ended.wait(30000))
            return std::nullopt;
        return ended.at(0).at(0).value<End>();
    }
    QList<int> foundAddresses() const {
        QList<int> out;
        const int n = apptest::child<QListWidget>(main, "DeviceList")->count();
        for (int i = 0; i < n; ++i)
            out << DeviceTable[static_cast<size_t>(i)].DeviceAddress;
        return out;
    }

private Q_SLOTS:
    void initTestCase() {
        QuietOffscreenPlatform();
        MessagePresenter::instance();
    }
    void init() {
        apptest::resetMessages();
        bus = std::make_unique<qimsim::Bus>();
        QVERIFY(bus->listenTcp(QHostAddress::LocalHost, 0));
        QVERIFY(bus->openPty(2));
    }
    void cleanup() {
        QVERIFY(closePanel());
        delete main.data();
        apptest::resetMessages();
        Link::instance().reset();
        bus.reset();
    }

    void scanAcrossMisbehavingModules_data() { transports(); }
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
        openMain(tcp);
        ScanBusDialog* d = openScan();

        QCOMPARE(scanBus(d, 1, 9), End::Natural);
        QCOMPARE(shows(d, "lblErrorCount"), QStringLiteral("6"));
        QCOMPARE(shows(d, "lblDeviceCount"), QStringLiteral("3"));
        QCOMPARE(foundAddresses(), (QList<int>{1, 8, 9}));
        QCOMPARE(DeviceTable[1].DeviceCode, 20);
        QCOMPARE(DeviceTable[3].DeviceCode, 0); // nothing decoded from a bad reply
        QVERIFY(MessagePresenter::instance().history().isEmpty());

        // Once they behave, the next scan finds them all.
        for (int a = 2; a <= 7; ++a)
            bus->module(static_cast<uint8_t>(a))->clearFaults();
        QCOMPARE(scanBus(d, 1, 9), End::Natural);
        QCOMPARE(shows(d, "lblErrorCount"), QStringLiteral("0"));
        QCOMPARE(shows(d, "lblDeviceCount"), QStringLiteral("9"));
        QCOMPARE(foundAddresses(), (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
        QCOMPARE(DeviceTable[4].DeviceCode, 10);
    }

    void panelCountsAFaultyModuleAndRecovers_data() {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<int>("fault");
        for (bool tcp : {false, true}) {
            const auto row = [tcp](const char* name, Kind k) {
                QTest::addRow("%s %s", tcp ? "tcp" : "rtu", name) << tcp << int(k);
            };
            row("silence", Kind::Silence);
            row("garbage", Kind::Garbage);
            row("exception", Kind::Exception);
            row("extra byte", Kind::ExtraByte);
            row("missing byte", Kind::MissingByte);
            row(tcp ? "closed mid-reply" : "wrong crc", tcp ? Kind::CloseMidReply : Kind::WrongCrc);
        }
    }
    void panelCountsAFaultyModuleAndRecovers() {
        QFETCH(bool, tcp);
        QFETCH(int, fault);
        if (tcp) {
            QVERIFY(tcpBus());
        } else {
            QVERIFY(serialBus());
        }
        qimsim::Module* module = bus->addModule(5, 10);
        module->forceRead(3, 0, 0x01); // input 1 lit
        paneltest::SelectDevice(5, 10);
        panel = frmQIM_K520::open();
        QVERIFY(panel);
        const auto lit = [this](int n) {
            return w<StatePicture>(QStringLiteral("Image_Input%1").arg(n))->state() == 1;
        };
        scan(QStringLiteral("10"));
        QTRY_VERIFY(lit(1));
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));

        // Three reads go wrong; then the module answers with input 8 lit.
        module->setFault(3, faultOf(Kind(fault), 3));
        module->forceRead(3, 0, 0x80);
        QTRY_VERIFY_WITH_TIMEOUT(lit(8), 10000);
        QVERIFY(!lit(1));
        QCOMPARE(sb(1), QStringLiteral("Err: 3"));
        QCOMPARE(sb(3), QStringLiteral("SCAN"));
        // And it goes on polling without further errors.
        const int polls = sb(2).mid(6).toInt();
        QTRY_VERIFY(sb(2).mid(6).toInt() >= polls + 3);
        QCOMPARE(sb(1), QStringLiteral("Err: 3"));
        QVERIFY(stop());
        QVERIFY(messages().isEmpty());
    }

    void portVanishesMidScan() {
        for (int a = 1; a <= 5; ++a)
            bus->addModule(static_cast<uint8_t>(a), 10);
        // Module 3 keeps the scan waiting while its adapter is pulled.
        bus->module(3)->setFault(17, faultOf(Kind::Silence));
        openMain(false);
        General::SerialTimeout = 5000;
        ScanBusDialog* d = openScan();
        connect(bus.get(), &qimsim::Bus::requestReceived, d,
                [this](const qimsim::RequestRecord& r) {
                    if (r.address == 3)
                        QTimer::singleShot(50, bus.get(), [this] { bus->closePty(); });
                });

        QCOMPARE(scanBus(d, 1, 5), End::ConnectionError);
        QCOMPARE(MessagePresenter::instance().history(),
                 (QStringList{PortUnavailableMessage(), "Connection Error"}));
        // The counters keep the last address that was answered.
        QCOMPARE(shows(d, "lblDeviceCount"), QStringLiteral("2"));
        QCOMPARE(shows(d, "lblErrorCount"), QStringLiteral("0"));
        QCOMPARE(shows(d, "lblSlaveAddress"), QStringLiteral("2"));
        QCOMPARE(foundAddresses(), (QList<int>{1, 2}));
        QVERIFY(apptest::child<QPushButton>(d, "CmdStart")->isEnabled());
        apptest::acknowledgeAll();

        // While the port is gone a scan says so at once...
        apptest::resetMessages();
        QCOMPARE(scanBus(d, 1, 5), End::ConnectionError);
        QCOMPARE(MessagePresenter::instance().history(),
                 (QStringList{PortUnavailableMessage(), "Connection Error"}));
        apptest::acknowledgeAll();

        // ...and once it is back, the scan works again.
        apptest::resetMessages();
        disconnect(bus.get(), nullptr, d, nullptr);
        bus->module(3)->clearFaults();
        QVERIFY(bus->openPty(2));
        General::SerialTimeout = 300;
        QCOMPARE(scanBus(d, 1, 5), End::Natural);
        QCOMPARE(shows(d, "lblDeviceCount"), QStringLiteral("5"));
        QCOMPARE(foundAddresses(), (QList<int>{1, 2, 3, 4, 5}));
        QVERIFY(MessagePresenter::instance().history().isEmpty());
    }
};

QIM_TEST_MAIN(TestRecovery)
#include "tst_recovery.moc"
