// The connection dialog: what it refuses and stores, and the link test.
#include "ConnectionDialog.h"
#include "Driver.h"
#include "Errors.h"
#include "PortNames.h"

#include <QSignalSpy>

using namespace qim;
using namespace qimtest;
using namespace apptest;

namespace {
// A register read answered after a pause, on either link.
QList<Chunk> slowRead(const QByteArray& req) {
    const QByteArray data = QByteArray::fromHex("02002a");
    if (req.size() == 8) // RTU
        return {{withCrc(req.left(2) + data), 300}};
    return {{req.left(4) + QByteArray::fromHex("0005") + req.mid(6, 2) + data, 300}};
}
} // namespace

class TestConnection : public QObject {
    Q_OBJECT
    std::unique_ptr<App> app;
    std::unique_ptr<PtySlave> pty; // COM3
    std::unique_ptr<TcpSlave> server;

    // Opens the dialog from the menu, the status bar showing an earlier link.
    Window open() {
        auto* status = app->window().get<StatusPanels>(QStringLiteral("SBMain"));
        status->setPanel(1, QStringLiteral("Connected"));
        status->setPanel(2, QStringLiteral("COM9"));
        app->window().click(QStringLiteral("mnuComm"));
        return Window(QStringLiteral("frmCommSetup"));
    }
    static auto* dialog(const Window& d) { return qobject_cast<ConnectionDialog*>(d.widget()); }

private Q_SLOTS:
    void initTestCase() { quietOffscreenPlatform(); }
    void init() {
        app = std::make_unique<App>();
        pty = std::make_unique<PtySlave>(slowRead);
        QVERIFY(pty->publishAs(3));
        server = std::make_unique<TcpSlave>(slowRead);
    }
    void cleanup() {
        app.reset();
        PortNames::unpublish(3);
    }

    // Entries are checked in order; a refused one shows its message and
    // stores and tests nothing. Those that pass are stored, only the chosen
    // link's, then the link is tested; connected, the dialog closes.
    void entriesAreCheckedStoredAndTested_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("entries"); // timeout, connect timeout, port, address
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("outcome"); // refused, connected, failed
        const auto row = [](const char* name, int mode, QStringList entries, QString message,
                            const char* outcome = "refused") {
            QTest::newRow(name) << mode << entries << message << QString::fromLatin1(outcome);
        };
        const QString range = QStringLiteral(" must be a number from 1000 to 10000");
        row("serial 999", 0, {"999", "", "", ""}, "Serial Timeout" + range);
        row("tcp 999", 1, {"999", "3000", "0", "127.0.0.1"}, "TCP/IP Timeout" + range);
        row("connect 999", 1, {"1000", "999", "0", ""}, "TCP/IP Connection Timeout" + range);
        row("port 0", 1, {"1000", "1000", "0", ""}, "Server Port must be a number from 1 to 65535");
        row("no address", 1, {"1000", "1000", "502", ""}, "Please, enter a valid IP Address");
        row("serial", 0, {"1000.5", "", "", ""}, {}, "connected");
        row("serial, no port", 0, {"10000", "", "", "COM32"}, Errors::portUnavailableMessage(),
            "failed");
        row("tcp", 1, {"10000", "1000", "server", "127.0.0.1"}, {}, "connected");
        row("tcp, never accepts", 1, {"1000", "1000", "silent", "127.0.0.1"},
            " Device at 127.0.0.1 was not found!", "failed");
    }
    void entriesAreCheckedStoredAndTested() {
        QFETCH(int, mode);
        QFETCH(QStringList, entries);
        QFETCH(QString, message);
        QFETCH(QString, outcome);
        const bool connects = outcome == "connected";
        NeverAccepting never;
        QString port = entries[2];
        port.replace("server", QString::number(server->port()));
        port.replace("silent", QString::number(never.port()));
        const LinkSettings before = app->link.settings();
        const Window d = open();
        QSignalSpy tested(dialog(d), &ConnectionDialog::testFinished);
        d.pick("ComboCommMode", mode);
        d.pick("ComboPortNumber", entries[3] == "COM32" ? 31 : 2);
        d.pick("ComboBaudRate", 0);
        d.type(mode == 0 ? "TextRS422ResTimeOut" : "TextTCPResTimeOut", entries[0]);
        d.type("TextTCPConTimeOut", entries[1]);
        d.type("TextServerPort", port);
        d.type("TextIPAddress", entries[3]);
        d.click("CmdOk");
        QCOMPARE(app->window().status(1), QStringLiteral("Disconnected"));
        QCOMPARE(app->window().status(2), QString());
        if (outcome == "refused") {
            QCOMPARE(app->messages(), QStringList{message});
            QVERIFY(app->link.settings() == before);
            QVERIFY(d.open() && d.enabled("CmdOk"));
            QCOMPARE(app->link.pending(), 0);
            return;
        }
        QVERIFY(!d.enabled("CmdOk")); // one test at a time
        QVERIFY(tested.wait(5000));
        QCOMPARE(tested.at(0).at(0).toBool(), connects);
        QCOMPARE(app->messages(), connects ? QStringList() : QStringList{message});
        LinkSettings expected = before;
        if (mode == 0) {
            expected.comPort = entries[3] == "COM32" ? 32 : 3;
            expected.speed = LineSpeed::Baud9600;
            expected.serialTimeoutMs = entries[0] == "1000.5" ? 1000 : entries[0].toInt();
        } else {
            expected.transport = LinkSettings::Transport::Tcp;
            expected.port = port.toUShort();
            expected.tcpTimeoutMs = entries[0].toInt();
            expected.tcpConnectTimeoutMs = entries[1].toInt();
        }
        QVERIFY(app->link.settings() == expected);
        QCOMPARE(app->window().status(1),
                 QString::fromLatin1(connects ? "Connected" : "Disconnected"));
        QCOMPARE(app->window().status(2), connects ? expected.place() : QString());
        if (connects)
            QTRY_VERIFY(!d.widget());
        else
            QVERIFY(d.open() && d.enabled("CmdOk"));
    }

    // The test queues behind another window's read on the wire, which keeps
    // its port or connection. Closing the dialog meanwhile (Enter on Cancel,
    // Escape) does not stop the test: its outcome still reaches the status bar.
    void theTestWaitsForATransactionOnTheWire_data() {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<int>("closeKey");
        QTest::newRow("serial, Cancel") << false << int(Qt::Key_Return);
        QTest::newRow("tcp, Escape") << true << int(Qt::Key_Escape);
    }
    void theTestWaitsForATransactionOnTheWire() {
        QFETCH(bool, tcp);
        QFETCH(int, closeKey);
        app->settings([&](LinkSettings& s) {
            s.transport = tcp ? LinkSettings::Transport::Tcp : LinkSettings::Transport::Serial;
            s.comPort = 3;
            s.port = server->port();
        });
        const Window d = open();
        QVERIFY(QTest::qWaitForWindowActive(d.widget()));
        QObject panel;
        std::optional<Reply> read;
        app->link.readHoldingRegisters(1, 0, 1, {&panel, [&](const Reply& r) { read = r; }});
        QTRY_VERIFY(!pty->requests.isEmpty() || !server->requests.isEmpty()); // on the wire
        d.click("CmdOk");
        d.focus("CmdCancel");
        d.press(Qt::Key(closeKey));
        QTRY_VERIFY(!d.widget());
        QTRY_COMPARE_WITH_TIMEOUT(app->window().status(1), QStringLiteral("Connected"), 5000);
        QCOMPARE(read ? read->reg(0).value_or(0) : 0, 42);
        QCOMPARE(app->window().status(2),
                 tcp ? QStringLiteral("127.0.0.1") : QStringLiteral("COM3"));
        QVERIFY(app->messages().isEmpty());
    }
};

QIM_TEST_MAIN(TestConnection)
#include "tst_connection.moc"
