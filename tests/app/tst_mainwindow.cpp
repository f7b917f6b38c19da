// Start-up, the windows the main window opens (one per kind), and the end
// of the program.
#include "Driver.h"
#include "PortNames.h"
#include "SplashWindow.h"
#include "Startup.h"

#include <QSignalSpy>

using namespace qim;
using namespace qimtest;
using namespace apptest;

namespace {} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<App> app;

private Q_SLOTS:
    void initTestCase() { QuietOffscreenPlatform(); }
    void init() { app = std::make_unique<App>(); }
    void cleanup() { app.reset(); }

    void theSplashStaysUntilTheMainWindowIsUp() {
        app.reset();
        Link link;
        MessagePresenter presenter;
        Startup startup(link, presenter, 200);
        startup.start();
        QPointer<SplashWindow> splash = startup.splash();
        splash->close();
        QVERIFY(splash && splash->isVisible());
        QTRY_VERIFY(startup.mainWindow() && startup.mainWindow()->isVisible());
        QTRY_VERIFY(!splash);
    }

    // Opening an open window brings it forward as it is; closing discards
    // it, and the next one loads afresh.
    void windowsOpenOncePerKind() {
        const QStringList kinds[] = {{"mnuScan", "frmScanBus", "TextStartAddress", "1"},
                                     {"mnuComm", "frmCommSetup", "TextServerPort", "502"},
                                     {"mnuAbout", "frmAbout"},
                                     {"mnuTraffic", "frmTraffic"}};
        for (const QStringList& k : kinds) {
            app->window().click(k[0]);
            const Window first(k[1]);
            if (k.size() > 2)
                first.type(k[2], QStringLiteral("9"));
            app->window().click(k[0]);
            QCOMPARE(Window(k[1]).widget(), first.widget());
            if (k.size() > 2)
                QCOMPARE(first.text(k[2]), QStringLiteral("9"));
            first.close();
            QTRY_VERIFY(!first.widget());
            app->window().click(k[0]);
            QVERIFY(Window(k[1]).open());
            if (k.size() > 2)
                QCOMPARE(Window(k[1]).text(k[2]), k[3]);
        }
    }

    // Closing the main window ends the program: the link closes, every other
    // window goes, and no message waits for an OK.
    void closingEndsTheLinkAndEveryWindow() {
        PtySlave pty([](const QByteArray& req) {
            return QList<Chunk>{{WithCrc(req.left(2) + QByteArray::fromHex("020000"))}};
        });
        QVERIFY(pty.publishAs(2));
        TcpSlave server([](const QByteArray&) { return QList<Chunk>{}; });
        const auto done = [](std::optional<Reply>& box) {
            return Requester{nullptr, [&box](const Reply& r) { box = r; }};
        };
        std::optional<Reply> read, test;
        app->link.readHoldingRegisters(1, 0, 1, done(read));
        QTRY_VERIFY(read && read->ok());
        app->settings([&](LinkSettings& s) {
            s.transport = LinkSettings::Transport::Tcp;
            s.port = server.port();
        });
        app->link.testConnection(done(test));
        QTRY_VERIFY(test && test->ok());
        QVERIFY(app->link.serialPortOpen() && app->link.tcpConnected());

        QList<QPointer<QWidget>> others;
        for (const char* menu : {"mnuAbout", "mnuScan", "mnuComm", "mnuTraffic"})
            app->window().click(QString::fromLatin1(menu));
        DeviceRecord module;
        module.address = 4;
        module.code = 30;
        QVERIFY(app->main->openPanel(module));
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w != app->main)
                others << w;
        QCOMPARE(others.size(), 5);
        app->presenter.show(QStringLiteral("still waiting for OK"));

        QSignalSpy ending(app->main.data(), &MainWindow::programEnding);
        app->main->close();
        QCOMPARE(ending.size(), 1);
        QVERIFY(!app->link.serialPortOpen() && !app->link.tcpConnected());
        QVERIFY(!app->presenter.current());
        QTRY_VERIFY(!app->main);
        for (const QPointer<QWidget>& w : others)
            QTRY_VERIFY(!w);
        PortNames::Unpublish(2);
    }
};

QIM_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
