// The connection dialog: what it shows, what it refuses, what it stores,
// and the link test through the queue.
#include "AppTest.h"
#include "CommSetupDialog.h"
#include "Link.h"
#include "MainWindow.h"
#include "PortNames.h"
#include "Requests.h"
#include "StatusPanels.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>

using namespace qim;
using namespace qimtest;
using namespace apptest;

namespace {
QStringList items(const QComboBox* c) {
    QStringList out;
    for (int i = 0; i < c->count(); ++i)
        out << c->itemText(i);
    return out;
}
// A register read answered after a pause, on either link.
QList<Chunk> slowRtuRead(const QByteArray& req) {
    return {{WithCrc(req.left(2) + QByteArray::fromHex("02002a")), 300}};
}
QList<Chunk> slowTcpRead(const QByteArray& req) {
    return {
        {req.left(4) + QByteArray::fromHex("0005") + req.mid(6, 2) + QByteArray::fromHex("02002a"),
         300}};
}
} // namespace

class TestCommSetup : public QObject {
    Q_OBJECT
    QPointer<MainWindow> main;
    StatusPanels* sb = nullptr;

    CommSetupDialog* open() {
        main->openCommSetup();
        return main->commSetup();
    }
    void chooseMode(CommSetupDialog* d, int mode) {
        child<QComboBox>(d, "ComboCommMode")->setCurrentIndex(mode);
    }
    // Presses Ok with the status bar showing a link, as after an earlier connection.
    void ok(CommSetupDialog* d) {
        sb->setPanel(1, QStringLiteral("Connected"));
        sb->setPanel(2, QStringLiteral("COM9"));
        click(d, "CmdOk");
    }

private Q_SLOTS:
    void initTestCase() { qimtest::QuietOffscreenPlatform(); }
    void init() {
        resetMessages();
        Link::instance().reset();
        main = new MainWindow;
        main->show();
        General::IPAddress = QStringLiteral("127.0.0.1"); // never the default host
        sb = main->statusPanels();
    }
    void cleanup() {
        resetMessages();
        delete main.data();
        Link::instance().reset();
        for (int n = 1; n <= PortNames::PortCount; ++n)
            PortNames::Unpublish(n);
    }

    void loadShowsTheLinkSettings() {
        General::ComPortIndex = 2;
        General::BaudIndex = 3;
        General::SerialTimeout = 1500;
        CommSetupDialog* d = open();
        QCOMPARE(d->windowTitle(), QStringLiteral("Comm Setup"));
        auto* mode = child<QComboBox>(d, "ComboCommMode");
        auto* port = child<QComboBox>(d, "ComboPortNumber");
        auto* baud = child<QComboBox>(d, "ComboBaudRate");
        auto* stop = child<QComboBox>(d, "ComboStopBits");
        auto* ipMode = child<QComboBox>(d, "ComboIPAddressMode");
        QCOMPARE(items(mode), (QStringList{"ModBus Serial (RS422)", "ModBus TCP/IP"}));
        QCOMPARE(port->count(), 32);
        QCOMPARE(port->itemText(0), QStringLiteral("COM1"));
        QCOMPARE(port->itemText(31), QStringLiteral("COM32"));
        QCOMPARE(items(baud), (QStringList{"9600 b/s", "19200 b/s", "57600 b/s", "115200 b/s"}));
        QCOMPARE(items(stop), (QStringList{"1 Bit", "2 Bit"}));
        QCOMPARE(items(ipMode),
                 (QStringList{"Single IP Address Network", "Multi IP Address Network"}));
        QCOMPARE(mode->currentIndex(), 0);
        QCOMPARE(port->currentText(), QStringLiteral("COM3"));
        QCOMPARE(baud->currentText(), QStringLiteral("115200 b/s"));
        QCOMPARE(stop->currentText(), QStringLiteral("2 Bit"));
        QCOMPARE(child<QLineEdit>(d, "TextRS422ResTimeOut")->text(), QStringLiteral("1500"));
        QCOMPARE(child<QLineEdit>(d, "TextIPAddress")->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(child<QLineEdit>(d, "TextServerPort")->text(), QStringLiteral("502"));
        QCOMPARE(child<QLineEdit>(d, "TextTCPConTimeOut")->text(), QStringLiteral("3000"));
        QCOMPARE(child<QLineEdit>(d, "TextTCPResTimeOut")->text(), QStringLiteral("1000"));
        QCOMPARE(ipMode->currentIndex(), 0);
        QCOMPARE(child<QLabel>(d, "lblIPNote")->text(),
                 QStringLiteral("Unique IP Address For a Group of serial Devices. EX: 192.168.20.0 "
                                "For Device Addresses 1 To 247"));
        QVERIFY(child<QRadioButton>(d, "OptionRTU")->isChecked());
        QCOMPARE(child<QRadioButton>(d, "OptionASCII")->text(), QStringLiteral("ASCII"));
        QCOMPARE(child<QPushButton>(d, "CmdOk")->text(), QStringLiteral("Ok"));
        QCOMPARE(child<QPushButton>(d, "CmdCancel")->text(), QStringLiteral("Cancel"));

        // Beside the port list: what the selected COMn opens here.
        auto* device = child<QLabel>(d, "lblPortDevice");
        QCOMPARE(device->text(), PortNames::Describe(3));
        PtySlave pty([](const QByteArray&) { return QList<Chunk>{}; });
        QVERIFY(pty.publishAs(5));
        port->setCurrentIndex(4);
        QVERIFY(device->text().contains(pty.device()));

        // Serial on: its controls enabled, the TCP boxes not; stop bits and
        // IP mode never.
        auto enabled = [&d](const char* name) { return child<QWidget>(d, name)->isEnabled(); };
        auto expectMode = [&](bool serial) {
            for (const char* n : {"ComboPortNumber", "ComboBaudRate", "TextRS422ResTimeOut"})
                QCOMPARE(enabled(n), serial);
            for (const char* n :
                 {"TextIPAddress", "TextServerPort", "TextTCPConTimeOut", "TextTCPResTimeOut"})
                QCOMPARE(enabled(n), !serial);
            QVERIFY(!enabled("ComboStopBits"));
            QVERIFY(!enabled("ComboIPAddressMode"));
        };
        expectMode(true);
        chooseMode(d, 1);
        expectMode(false);
        chooseMode(d, 0);
        expectMode(true);
        d->close();

        // A TCP link in a multi-address network opens in TCP mode.
        General::CommMode = 1;
        General::IPAddressMode = 1;
        QTRY_VERIFY(!main->commSetup());
        d = open();
        QCOMPARE(child<QComboBox>(d, "ComboCommMode")->currentIndex(), 1);
        QCOMPARE(child<QComboBox>(d, "ComboIPAddressMode")->currentIndex(), 1);
        QCOMPARE(child<QLabel>(d, "lblIPNote")->text(),
                 QStringLiteral(
                     "Unique IP Address For Each Device. EX: 192.168.0.10 For Slave Address # 10"));
        expectMode(false);
    }

    void serialEntriesAreRefusedAtTheirBounds() {
        CommSetupDialog* d = open();
        child<QComboBox>(d, "ComboPortNumber")->setCurrentIndex(31); // COM32: nothing behind it
        const qimtest::LinkSettings before = qimtest::LinkSettings::now();
        for (const char* bad : {"999", "10001", "abc", "", "999.9"}) {
            resetMessages();
            type(d, "TextRS422ResTimeOut", QString::fromLatin1(bad));
            ok(d);
            QCOMPARE(messages(), QStringList{"Serial Timeout must be a number from 1000 to 10000"});
            QVERIFY(qimtest::LinkSettings::now() == before);
            QCOMPARE(sb->text(1), QStringLiteral("Disconnected"));
            QCOMPARE(sb->text(2), QString());
            QVERIFY(d->isVisible());
            QVERIFY(!d->testing());
        }
        // Both bounds pass; the port then fails, with the settings stored.
        for (const char* good : {"1000", "10000", "1000.5"}) {
            resetMessages();
            type(d, "TextRS422ResTimeOut", QString::fromLatin1(good));
            ok(d);
            QTRY_VERIFY(!d->testing());
            QCOMPARE(messages(), QStringList{PortUnavailableMessage()});
            QCOMPARE(General::SerialTimeout, QString::fromLatin1(good) == "10000" ? 10000 : 1000);
            QCOMPARE(General::ComPortIndex, 31);
            QVERIFY(!General::Connected);
            QCOMPARE(sb->text(1), QStringLiteral("Disconnected"));
            QVERIFY(d->isVisible());
            QVERIFY(child<QPushButton>(d, "CmdOk")->isEnabled());
        }
        // The TCP settings were never touched.
        QCOMPARE(General::IPAddress, before.ip);
        QCOMPARE(General::TCPConnectTimeout, before.connectTimeout);
    }

    void tcpEntriesAreCheckedInOrder() {
        CommSetupDialog* d = open();
        chooseMode(d, 1);
        const qimtest::LinkSettings before = qimtest::LinkSettings::now();
        struct Case {
            const char *timeout, *connect, *port, *ip, *message;
        };
        const Case cases[] = {
            {"999", "3000", "0", "127.0.0.1", "TCP/IP Timeout must be a number from 1000 to 10000"},
            {"10001", "", "", "", "TCP/IP Timeout must be a number from 1000 to 10000"},
            {"x", "3000", "502", "127.0.0.1", "TCP/IP Timeout must be a number from 1000 to 10000"},
            {"1000", "999", "0", "",
             "TCP/IP Connection Timeout must be a number from 1000 to 10000"},
            {"1000", "10001", "502", "127.0.0.1",
             "TCP/IP Connection Timeout must be a number from 1000 to 10000"},
            {"1000", "1000", "0", "", "Server Port must be a number from 1 to 65535"},
            {"1000", "1000", "65536", "127.0.0.1", "Server Port must be a number from 1 to 65535"},
            {"1000", "1000", "", "127.0.0.1", "Server Port must be a number from 1 to 65535"},
            {"1000", "1000", "502", "", "Please, enter a valid IP Address"},
        };
        for (const Case& c : cases) {
            resetMessages();
            type(d, "TextTCPResTimeOut", QString::fromLatin1(c.timeout));
            type(d, "TextTCPConTimeOut", QString::fromLatin1(c.connect));
            type(d, "TextServerPort", QString::fromLatin1(c.port));
            type(d, "TextIPAddress", QString::fromLatin1(c.ip));
            ok(d);
            QCOMPARE(messages(), QStringList{QString::fromLatin1(c.message)});
            QVERIFY(qimtest::LinkSettings::now() == before);
            QCOMPARE(sb->text(1), QStringLiteral("Disconnected"));
            QVERIFY(d->isVisible());
        }
        // Ports 1 and 65535 pass: nothing listens there on loopback, so the
        // test fails with the settings stored.
        for (const char* port : {"1", "65535"}) {
            resetMessages();
            type(d, "TextTCPResTimeOut", "10000");
            type(d, "TextTCPConTimeOut", "1000.5");
            type(d, "TextServerPort", QString::fromLatin1(port));
            type(d, "TextIPAddress", "127.0.0.1");
            ok(d);
            QTRY_VERIFY_WITH_TIMEOUT(!d->testing(), 5000);
            QCOMPARE(messages(), QStringList{" Device at 127.0.0.1 was not found!"});
            QCOMPARE(General::ServerPort, QString::fromLatin1(port).toInt());
            QCOMPARE(General::TCPTimeout, 10000);
            QCOMPARE(General::TCPConnectTimeout, 1000);
            QCOMPARE(General::CommMode, 1);
            QVERIFY(d->isVisible());
        }
        // The serial settings were never touched.
        QCOMPARE(General::ComPortIndex, before.port);
        QCOMPARE(General::SerialTimeout, before.serialTimeout);
    }

    void serialOkConnects() {
        PtySlave pty([](const QByteArray&) { return QList<Chunk>{}; });
        QVERIFY(pty.publishAs(3));
        CommSetupDialog* d = open();
        QPointer<CommSetupDialog> guard = d;
        child<QComboBox>(d, "ComboPortNumber")->setCurrentIndex(2);
        child<QComboBox>(d, "ComboBaudRate")->setCurrentIndex(0);
        type(d, "TextRS422ResTimeOut", "2500");
        type(d, "TextIPAddress", "127.0.0.9"); // a TCP entry: not stored on the serial path
        ok(d);
        QTRY_VERIFY(!guard);
        QCOMPARE(sb->text(1), QStringLiteral("Connected"));
        QCOMPARE(sb->text(2), QStringLiteral("COM3"));
        QVERIFY(General::Connected);
        QCOMPARE(General::CommMode, 0);
        QCOMPARE(General::ComPortIndex, 2);
        QCOMPARE(General::BaudIndex, 0);
        QCOMPARE(General::SerialTimeout, 2500);
        QCOMPARE(General::IPAddress, QStringLiteral("127.0.0.1"));
        QVERIFY(messages().isEmpty());
    }

    void tcpOkConnects() {
        TcpSlave server([](const QByteArray&) { return QList<Chunk>{}; });
        General::ComPortIndex = 4;
        CommSetupDialog* d = open();
        QPointer<CommSetupDialog> guard = d;
        chooseMode(d, 1);
        child<QComboBox>(d, "ComboPortNumber")->setCurrentIndex(0); // not stored on the TCP path
        type(d, "TextServerPort", QString::number(server.port()));
        type(d, "TextTCPResTimeOut", "1500");
        ok(d);
        QTRY_VERIFY(!guard);
        QCOMPARE(sb->text(1), QStringLiteral("Connected"));
        QCOMPARE(sb->text(2), QStringLiteral("127.0.0.1"));
        QVERIFY(General::Connected);
        QCOMPARE(General::CommMode, 1);
        QCOMPARE(General::ServerPort, server.port());
        QCOMPARE(General::TCPTimeout, 1500);
        QCOMPARE(General::ComPortIndex, 4);
        QCOMPARE(server.connections, 1);
    }

    void tcpOkToAServerThatNeverAcceptsTimesOut() {
        NeverAccepting silent;
        CommSetupDialog* d = open();
        chooseMode(d, 1);
        type(d, "TextServerPort", QString::number(silent.port()));
        type(d, "TextTCPConTimeOut", "1000");
        QSignalSpy finished(d, &CommSetupDialog::testFinished);
        ok(d);
        QCOMPARE(sb->text(1), QStringLiteral("Disconnected"));
        QVERIFY(!child<QPushButton>(d, "CmdOk")->isEnabled()); // one test at a time
        // The dialog stays usable while the test runs.
        chooseMode(d, 0);
        chooseMode(d, 1);
        QTest::qWait(400);
        QVERIFY(messages().isEmpty()); // well before the connection timeout
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.at(0).at(0).toBool(), false);
        QCOMPARE(messages(), QStringList{" Device at 127.0.0.1 was not found!"});
        QVERIFY(!General::Connected);
        QCOMPARE(sb->text(1), QStringLiteral("Disconnected"));
        QVERIFY(d->isVisible());
        QVERIFY(child<QPushButton>(d, "CmdOk")->isEnabled());
    }

    void cancelStoresNothing() {
        CommSetupDialog* d = open();
        QPointer<CommSetupDialog> guard = d;
        const qimtest::LinkSettings before = qimtest::LinkSettings::now();
        chooseMode(d, 1);
        type(d, "TextServerPort", "1502");
        click(d, "CmdCancel");
        QTRY_VERIFY(!guard);
        QVERIFY(qimtest::LinkSettings::now() == before);
        QCOMPARE(Link::instance().pending(), 0);
    }

    void theTestWaitsForATransactionOnTheWire_data() {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<QString>("closedBy"); // the dialog, while its test waits
        QTest::newRow("serial") << false << QString();
        QTest::newRow("tcp") << true << QString();
        QTest::newRow("serial, Cancel") << false << QStringLiteral("Cancel");
        QTest::newRow("tcp, Escape") << true << QStringLiteral("Escape");
    }
    void theTestWaitsForATransactionOnTheWire() {
        // Another window's read is on the wire when Ok is pressed: the link
        // test queues behind it, so the read keeps its port or connection
        // and gets its own reply. Closing the dialog meanwhile does not
        // stop the test: its outcome still reaches the status bar.
        QFETCH(bool, tcp);
        QFETCH(QString, closedBy);
        PtySlave pty(slowRtuRead);
        QVERIFY(pty.publishAs(2));
        TcpSlave server(slowTcpRead);
        General::CommMode = tcp ? 1 : 0;
        General::ServerPort = server.port();
        CommSetupDialog* d = open();
        QPointer<CommSetupDialog> guard = d;

        QStringList order;
        QObject panel;
        std::optional<Reply> read;
        ByMode::ReadHoldingRegisters(1, 0, 1, {&panel, [&](const Reply& r) {
                                                   read = r;
                                                   order << "read";
                                               }});
        connect(d, &CommSetupDialog::testFinished, this, [&](bool) { order << "test"; });
        QTest::qWait(50); // the read is on the wire now
        ok(d);
        QCOMPARE(sb->text(1), QStringLiteral("Disconnected"));
        if (closedBy == QLatin1String("Cancel"))
            click(d, "CmdCancel");
        else if (closedBy == QLatin1String("Escape"))
            QTest::keyClick(d, Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!guard, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(sb->text(1), QStringLiteral("Connected"), 5000);
        const QStringList expected =
            closedBy.isEmpty() ? QStringList{"read", "test"} : QStringList{"read"};
        QCOMPARE(order, expected);
        QVERIFY(General::Connected);
        QVERIFY(read && read->ok());
        QCOMPARE(read->reg(0).value_or(0), 42);
        QCOMPARE(sb->text(1), QStringLiteral("Connected"));
        QCOMPARE(sb->text(2), tcp ? QStringLiteral("127.0.0.1") : QStringLiteral("COM2"));
        QVERIFY(messages().isEmpty());
    }
};

QIM_TEST_MAIN(TestCommSetup)
#include "tst_commsetup.moc"
