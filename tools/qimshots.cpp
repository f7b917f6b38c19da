// qimshots: drives QIMTool's windows against a running qimsim demo bus, the
// way a user would (by control name: type, pick, click), and saves a PNG
// picture of each window for the README. scripts/screenshots runs it under
// xvfb-run with a private simulator.
//
//   qimshots --out DIR --com N      over the serial link, the pty published as COMn
//   qimshots --out DIR --tcp PORT   over Modbus TCP to 127.0.0.1:PORT
//
// The run is a list of steps, each waiting (on a timer, never blocking) for
// what it needs; a step that waits too long, or any message box, ends the
// run with exit code 1 and says why.

#include "Artwork.h"
#include "Link.h"
#include "MainWindow.h"
#include "MessagePresenter.h"
#include "SerialTransport.h"
#include "SplashWindow.h"
#include "StatusPanels.h"
#include "TcpTransport.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>

using namespace qim;

namespace {

[[noreturn]] void Fail(const QString& why) {
    std::fprintf(stderr, "qimshots: %s\n", qPrintable(why));
    std::fflush(stderr);
    std::_Exit(1);
}

// The top-level window with this name, or null.
QWidget* Window(const QString& name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w->isVisible())
            return w;
    return nullptr;
}

QWidget* NeedWindow(const QString& name) {
    QWidget* w = Window(name);
    if (!w)
        Fail(QStringLiteral("no window %1").arg(name));
    return w;
}

template <class T> T* Control(const QString& window, const QString& name) {
    T* c = NeedWindow(window)->findChild<T*>(name);
    if (!c)
        Fail(QStringLiteral("no control %1 in %2").arg(name, window));
    return c;
}

void Type(const QString& window, const QString& name, const QString& text) {
    auto* edit = Control<QLineEdit>(window, name);
    edit->selectAll();
    edit->insert(text);
}

void Pick(const QString& window, const QString& name, int index) {
    Control<QComboBox>(window, name)->setCurrentIndex(index);
}

void Click(const QString& window, const QString& name) {
    auto* b = Control<QPushButton>(window, name);
    if (!b->isEnabled())
        Fail(QStringLiteral("%1 of %2 is disabled").arg(name, window));
    b->click();
}

void Tick(const QString& window, const QString& name, bool on = true) {
    Control<QCheckBox>(window, name)->setChecked(on);
}

// The number after "Poll: " in a panel's status bar.
int Polls(const QString& window) {
    const QString text = Control<StatusPanels>(window, QStringLiteral("SB"))->text(2);
    return text.mid(text.indexOf(QLatin1Char(' ')) + 1).toInt();
}

bool Idle(const QString& window) {
    return Control<QPushButton>(window, QStringLiteral("CmdScan"))->isEnabled();
}

class Run : public QObject {
public:
    explicit Run(QString out) : m_out(std::move(out)) {
        m_timer.setInterval(40);
        connect(&m_timer, &QTimer::timeout, this, &Run::step);
    }

    // Does something at once.
    Run& then(std::function<void()> act) {
        m_steps.push_back({QString(), [] { return true; }, std::move(act), 0});
        return *this;
    }
    // Waits (up to timeoutMs) until ready() holds.
    Run& waitFor(const QString& what, std::function<bool()> ready, int timeoutMs = 15000) {
        m_steps.push_back({what, std::move(ready), [] {}, timeoutMs});
        return *this;
    }
    Run& pause(int ms) {
        auto since = std::make_shared<QElapsedTimer>();
        return waitFor(
            QStringLiteral("a pause"),
            [since, ms] {
                if (!since->isValid())
                    since->start();
                return since->elapsed() >= ms;
            },
            ms + 5000);
    }
    // Saves the window's picture as <out>/<file>.png.
    Run& shoot(const QString& window, const QString& file) {
        return then([this, window, file] {
            QWidget* w = NeedWindow(window);
            const QPixmap picture = w->grab();
            const QString path = QDir(m_out).filePath(file + QStringLiteral(".png"));
            // Quality 0 is PNG's strongest compression: the files go in the repository.
            if (!picture.save(path, "PNG", 0))
                Fail(QStringLiteral("cannot write ") + path);
            std::printf("%s  %dx%d\n", qPrintable(path), picture.width(), picture.height());
        });
    }

    void start() {
        m_timer.start();
        step();
    }

private:
    struct Step {
        QString what;
        std::function<bool()> ready;
        std::function<void()> act;
        int timeoutMs;
    };

    void step() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
                Fail(QStringLiteral("message box: ") + box->text());
        // At most a few immediate steps a tick, so windows get painted between them.
        for (int n = 0; n < 4 && !m_steps.empty(); ++n) {
            Step& s = m_steps.front();
            if (!m_clock.isValid())
                m_clock.start();
            if (!s.ready()) {
                if (m_clock.elapsed() > s.timeoutMs)
                    Fail(QStringLiteral("gave up waiting for ") + s.what);
                return;
            }
            const auto act = std::move(s.act);
            m_steps.pop_front();
            m_clock.invalidate();
            act();
        }
        if (m_steps.empty()) {
            m_timer.stop();
            QApplication::quit();
        }
    }

    QString m_out;
    std::deque<Step> m_steps;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

const QString Main = QStringLiteral("frmMain");
const QString Setup = QStringLiteral("frmCommSetup");
const QString Scan = QStringLiteral("frmScanBus");
const QString DiscreteForm = QStringLiteral("frmQIM_K520");
const QString AnalogForm = QStringLiteral("frmQIM_M640");
const QString TemperatureForm = QStringLiteral("frmQIM_P750");

QListWidget* Devices() {
    return Control<QListWidget>(Main, QStringLiteral("DeviceList"));
}

// Selects the n-th module of the list and opens its panel.
void OpenPanel(int row) {
    Devices()->setCurrentRow(row);
    Click(Main, QStringLiteral("CmdControl"));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QIMTool"));
    QApplication::setWindowIcon(programIcon());

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption outOption(
        QStringLiteral("out"), QStringLiteral("Folder for the PNGs."), QStringLiteral("dir"));
    const QCommandLineOption comOption(QStringLiteral("com"),
                                       QStringLiteral("Use the serial link on COM<n>."),
                                       QStringLiteral("n"));
    const QCommandLineOption tcpOption(QStringLiteral("tcp"),
                                       QStringLiteral("Use Modbus TCP to 127.0.0.1:<port>."),
                                       QStringLiteral("port"));
    parser.addOptions({outOption, comOption, tcpOption});
    parser.process(app);
    if (!parser.isSet(outOption) || parser.isSet(comOption) == parser.isSet(tcpOption))
        Fail(QStringLiteral("give --out and one of --com or --tcp"));
    const QString out = parser.value(outOption);
    QDir().mkpath(out);
    const bool serial = parser.isSet(comOption);
    const int com = parser.value(comOption).toInt();
    const QString tcpPort = parser.value(tcpOption);
    if (serial && (com < 1 || com > 32))
        Fail(QStringLiteral("--com must be 1..32"));

    // The splash and the about box, on their own.
    auto* splash = new SplashWindow(60000);
    splash->show();
    SerialTransport serialTransport;
    TcpTransport tcpTransport;
    Link link(serialTransport, tcpTransport);
    MessagePresenter presenter;
    QObject::connect(&link, &Link::message, &presenter, &MessagePresenter::show);
    auto* main = new MainWindow(link, presenter);
    main->show();

    Run run(out);
    run.pause(300)
        .shoot(QStringLiteral("frmSplash"), QStringLiteral("splash"))
        .then([splash] { delete splash; })
        .then([main] { main->openAbout(); })
        .pause(200)
        .shoot(QStringLiteral("frmAbout"), QStringLiteral("about"))
        .then([] { Click(QStringLiteral("frmAbout"), QStringLiteral("cmdOK")); });

    // Connection: the demo bus over the chosen link. The address box is set
    // to loopback before anything else, whichever link is used.
    run.then([main] { main->openConnection(); })
        .then([=] {
            Type(Setup, QStringLiteral("TextIPAddress"), QStringLiteral("127.0.0.1"));
            if (serial) {
                Pick(Setup, QStringLiteral("ComboCommMode"), 0);
                Pick(Setup, QStringLiteral("ComboPortNumber"), com - 1);
                Pick(Setup, QStringLiteral("ComboBaudRate"), 1);
            } else {
                Pick(Setup, QStringLiteral("ComboCommMode"), 1);
                Type(Setup, QStringLiteral("TextServerPort"), tcpPort);
            }
        })
        .pause(300)
        .shoot(Setup, QStringLiteral("connection"))
        .then([] { Click(Setup, QStringLiteral("CmdOk")); })
        .waitFor(QStringLiteral("the link test"), [main] {
            return main->findChild<StatusPanels*>()->text(1) == QLatin1String("Connected") &&
                   !Window(Setup);
        });

    // Scan addresses 1 to 8: the four demo modules answer, four addresses stay silent.
    run.then([main] { main->openScan(); })
        .then([] {
            Type(Scan, QStringLiteral("TextStartAddress"), QStringLiteral("1"));
            Type(Scan, QStringLiteral("TextEndAddress"), QStringLiteral("8"));
            Type(Scan, QStringLiteral("TextTime"), QStringLiteral("0"));
            Click(Scan, QStringLiteral("CmdStart"));
        })
        .waitFor(
            QStringLiteral("the scan"),
            [] {
                return Control<QPushButton>(Scan, QStringLiteral("CmdStart"))->isEnabled() &&
                       Control<QLabel>(Scan, QStringLiteral("lblSlaveAddress"))->text() ==
                           QLatin1String("8");
            },
            60000)
        .then([] {
            if (Devices()->count() != 4)
                Fail(QStringLiteral("the scan found %1 modules, not 4").arg(Devices()->count()));
        })
        .shoot(Scan, QStringLiteral("scan"))
        .then([] { Click(Scan, QStringLiteral("CmdCancel")); })
        .then([] { Devices()->setCurrentRow(3); })
        .pause(200)
        .shoot(Main, QStringLiteral("main"));

    // The discrete panel: outputs 1, 2 and 5 on, wired back to their inputs,
    // with the light walking over inputs 6..8.
    run.then([] { OpenPanel(0); })
        .then([] {
            for (int n : {1, 2, 5})
                Tick(DiscreteForm, QStringLiteral("Chk_Output%1").arg(n));
            Type(DiscreteForm, QStringLiteral("TextScanTimer"), QStringLiteral("100"));
            Click(DiscreteForm, QStringLiteral("CmdScan"));
        })
        .waitFor(QStringLiteral("discrete polls"), [] { return Polls(DiscreteForm) >= 8; })
        .shoot(DiscreteForm, QStringLiteral("discrete"))
        .then([] { Click(DiscreteForm, QStringLiteral("CmdStop")); })
        .waitFor(QStringLiteral("the discrete panel to stop"), [] { return Idle(DiscreteForm); })
        .then([] { Click(DiscreteForm, QStringLiteral("CmdCancel")); });

    // The analog panel: DAC outputs at 2, 4, 6 and 8 V looped back to AIN1..4,
    // the current loop at half scale, the sine input on a bipolar range.
    run.then([] { OpenPanel(2); })
        .then([] {
            const char* const dac[8] = {"819", "1638", "2457", "3276", "2048", "0", "0", "0"};
            for (int i = 0; i < 8; ++i)
                Type(AnalogForm, QStringLiteral("TextDAC%1").arg(i + 1), QLatin1String(dac[i]));
            Click(AnalogForm, QStringLiteral("CmdWriteDAC"));
        })
        .waitFor(QStringLiteral("the DAC write"),
                 [] {
                     return Control<QPushButton>(AnalogForm, QStringLiteral("CmdConfigADC"))
                         ->isEnabled();
                 })
        .then([] {
            Pick(AnalogForm, QStringLiteral("ComboCH6Range"), 1); // +/- 5V
            Click(AnalogForm, QStringLiteral("CmdConfigADC"));
        })
        .waitFor(
            QStringLiteral("the ADC configuration"),
            [] { return Control<QPushButton>(AnalogForm, QStringLiteral("CmdScan"))->isEnabled(); })
        .then([] {
            Type(AnalogForm, QStringLiteral("TextScanTimer"), QStringLiteral("100"));
            Click(AnalogForm, QStringLiteral("CmdScan"));
        })
        .waitFor(QStringLiteral("analog polls"), [] { return Polls(AnalogForm) >= 10; })
        .shoot(AnalogForm, QStringLiteral("analog"))
        .then([] { Click(AnalogForm, QStringLiteral("CmdStop")); })
        .waitFor(QStringLiteral("the analog panel to stop"), [] { return Idle(AnalogForm); })
        .then([] { Click(AnalogForm, QStringLiteral("CmdCancel")); });

    // The temperature panel: loop 1 proportional to 120 degrees, loop 2
    // ON/OFF at 60 with its high alarm at 55, loop 3 manual at 35 % PWM,
    // loop 4 without a thermocouple; relays 1 and 3 on.
    const QString loopDialog = QStringLiteral("frmQIM_P750_ControlLoop");
    auto setLoop = [loopDialog](int loop, const QStringList& values) {
        Click(TemperatureForm, QStringLiteral("Cmd_ControlLoop%1").arg(loop));
        const char* const boxes[5] = {"Text_SetPoint", "Text_CycleTime", "Text_Band",
                                      "Text_AlarmHigh", "Text_AlarmLow"};
        for (int i = 0; i < 5; ++i)
            Type(loopDialog, QLatin1String(boxes[i]), values[i]);
        Click(loopDialog, QStringLiteral("Cmd_OK"));
    };
    run.then([] { OpenPanel(3); })
        .then([] { Click(TemperatureForm, QStringLiteral("Cmd_ControlReg")); })
        .then([] {
            const QString dialog = QStringLiteral("frmQIM_P750_Control");
            Pick(dialog, QStringLiteral("Combo_ControlLoop1"), 2);
            Pick(dialog, QStringLiteral("Combo_ControlLoop2"), 1);
            Click(dialog, QStringLiteral("Cmd_OK"));
        })
        .then([] { Click(TemperatureForm, QStringLiteral("Cmd_ConfigReg")); })
        .then([] {
            const QString dialog = QStringLiteral("frmQIM_P750_Config");
            Pick(dialog, QStringLiteral("Combo_Sampling"), 0);
            Tick(dialog, QStringLiteral("Check_Alarm2"));
            Click(dialog, QStringLiteral("Cmd_OK"));
        })
        .then([=] {
            setLoop(1, {"120", "0", "10", "150", "0"});
        })
        .then([=] {
            setLoop(2, {"60", "0", "0", "55", "0"});
        })
        .then([=] {
            setLoop(3, {"0", "0", "1", "0", "0"});
        })
        .then([] { Click(TemperatureForm, QStringLiteral("Cmd_Write")); })
        .then([] {
            Control<QSlider>(TemperatureForm, QStringLiteral("Slider_PWM3"))->setValue(35);
            Tick(TemperatureForm, QStringLiteral("Check_Relay1"));
            Tick(TemperatureForm, QStringLiteral("Check_Relay3"));
            Type(TemperatureForm, QStringLiteral("TextScanTimer"), QStringLiteral("200"));
        })
        .pause(500)
        .then([] { Click(TemperatureForm, QStringLiteral("CmdScan")); })
        .waitFor(
            QStringLiteral("loop 1 to warm up"),
            [] {
                return Control<QLabel>(TemperatureForm, QStringLiteral("Label_PVTemp1"))
                           ->text()
                           .toInt() >= 100;
            },
            60000)
        .shoot(TemperatureForm, QStringLiteral("temperature"));

    // The traffic window while the temperature panel polls.
    run.then([main] { main->findChild<QAction*>(QStringLiteral("mnuTraffic"))->trigger(); })
        .waitFor(QStringLiteral("traffic rows"),
                 [] {
                     auto* table = Control<QTableView>(QStringLiteral("frmTraffic"),
                                                       QStringLiteral("tblTraffic"));
                     return table->model()->rowCount() >= 30;
                 })
        .pause(300)
        .shoot(QStringLiteral("frmTraffic"), QStringLiteral("traffic"))
        .then([] { Click(TemperatureForm, QStringLiteral("CmdStop")); })
        .waitFor(QStringLiteral("the temperature panel to stop"),
                 [] { return Idle(TemperatureForm); })
        .then([main] { main->close(); });

    run.start();
    const QPointer<MainWindow> window = main;
    const int code = QApplication::exec();
    delete window.data(); // before the link it uses
    return code;
}
