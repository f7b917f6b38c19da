#include "PollPanel.h"

#include "BringForward.h"
#include "DeviceTable.h"
#include "FileDialogs.h"
#include "FrameThrottle.h"
#include "Keyboard.h"
#include "MessagePresenter.h"
#include "ModuleRequest.h"
#include "NumberEntry.h"
#include "StatusPanels.h"
#include "TrendWindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>

namespace qim {

namespace {
constexpr int MaxIntervalMs = 10000;

QString configFilter() {
    return QStringLiteral("Configurations (*.json);;All files (*)");
}
} // namespace

PollPanel::PollPanel(Link& link, MessagePresenter& presenter, ModuleKind kind)
    : QWidget(nullptr, Qt::Window), m_link(link), m_presenter(presenter),
      m_loop(new PollLoop(link, this, [this](PollLoop::Done done) { pollCycle(std::move(done)); })),
      m_address(new QLabel(QStringLiteral("Address: "), this)), m_kind(kind),
      m_readings(new FrameThrottle(this, [this] { drawReadings(); })) {
    setAttribute(Qt::WA_DeleteOnClose);
    m_address->setObjectName(QStringLiteral("lblAddress"));
    connect(m_loop, &PollLoop::countsChanged, this, &PollPanel::showCounts);
    connect(m_loop, &PollLoop::finished, this, [this] {
        m_readings->flush();
        m_polling = false;
        updateControls();
    });
}

void PollPanel::makePollControls(QWidget* intervalParent,
                                 std::function<TrendWindow*()> makeTrendWindow) {
    m_interval = new QLineEdit(intervalParent);
    m_interval->setObjectName(QStringLiteral("TextScanTimer"));
    m_interval->setMaximumWidth(80);
    const auto button = [this](const char* name, const char* text) {
        auto* b = new QPushButton(QLatin1String(text), this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    m_scan = button("CmdScan", "Scan");
    m_stop = button("CmdStop", "Stop");
    if (makeTrendWindow)
        m_trend = button("Cmd_Trend", "Trend");
    m_close = button("CmdCancel", "Close");
    m_sb = new StatusPanels(QStringLiteral("SB"), this);
    // Sized once for the largest counts, so that a poll never redoes the layout.
    m_sb->holdSize(1, QStringLiteral("Err: 9999999"));
    m_sb->holdSize(2, QStringLiteral("Poll: 9999999"));

    connect(m_scan, &QPushButton::clicked, this, &PollPanel::scan);
    connect(m_stop, &QPushButton::clicked, this, [this] { m_loop->requestStop(); });
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
    if (m_trend) {
        connect(m_trend, &QPushButton::clicked, this, [this, makeTrendWindow] {
            if (!m_trendWindow)
                m_trendWindow = makeTrendWindow();
            bringForward(m_trendWindow);
        });
    }
    focusFollowsCommands(m_scan, m_stop);
}

void PollPanel::makeConfigControls(QWidget* parent) {
    m_configDir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    m_saveConfig = new QPushButton(QStringLiteral("Save Configuration..."), parent);
    m_saveConfig->setObjectName(QStringLiteral("CmdSaveConfig"));
    m_openConfig = new QPushButton(QStringLiteral("Open Configuration..."), parent);
    m_openConfig->setObjectName(QStringLiteral("CmdOpenConfig"));
    for (QPushButton* b : {m_saveConfig, m_openConfig})
        b->setAutoDefault(false);
    connect(m_saveConfig, &QPushButton::clicked, this, &PollPanel::saveConfig);
    connect(m_openConfig, &QPushButton::clicked, this, &PollPanel::openConfig);
}

QString PollPanel::suggestedConfigName() const {
    return QDir(m_configDir)
        .filePath(QStringLiteral("%1 address %2.json").arg(windowTitle()).arg(m_slave));
}

void PollPanel::saveConfig() {
    // What the fields hold now is what is saved, however long the dialog stays open.
    const auto settings = currentSettings();
    if (!settings)
        return;
    askForFile(this,
               {.title = QStringLiteral("Save Configuration"),
                .objectName = QStringLiteral("dlgSaveConfig"),
                .filter = configFilter(),
                .directory = m_configDir,
                .suffix = QStringLiteral("json"),
                .suggestedName = suggestedConfigName()},
               [this, settings](const QString& path) {
                   m_configDir = QFileInfo(path).absolutePath();
                   if (const QString error = ConfigFile::save(path, *settings); !error.isEmpty())
                       m_presenter.show(error);
               });
}

void PollPanel::openConfig() {
    askForFile(this,
               {.mode = FileRequest::Mode::Open,
                .title = QStringLiteral("Open Configuration"),
                .objectName = QStringLiteral("dlgOpenConfig"),
                .filter = configFilter(),
                .directory = m_configDir},
               [this](const QString& path) {
                   m_configDir = QFileInfo(path).absolutePath();
                   const ConfigFile::Loaded loaded = ConfigFile::load(path, m_kind);
                   if (loaded.settings)
                       applySettings(*loaded.settings);
                   else
                       m_presenter.show(loaded.error);
               });
}

TrendWindow* PollPanel::trendWindow() const {
    return m_trendWindow;
}

void PollPanel::showModule(const DeviceRecord& module) {
    if (m_loaded)
        return;
    m_loaded = true;
    load(module);
}

void PollPanel::load(const DeviceRecord& module) {
    m_slave = module.address;
    m_ours = moduleKindOf(module.code) == m_kind;
    m_address->setText(m_ours ? QStringLiteral("Address: %1").arg(m_slave)
                              : QStringLiteral("Address: "));
    m_interval->setText(QStringLiteral("100"));
    m_loop->resetCounts();
    showCounts();
    loadModule();
    updateControls();
}

void PollPanel::scan() {
    m_loop->resetCounts();
    const auto interval = parseEntry(m_interval->text(), 0, MaxIntervalMs);
    if (!interval) {
        m_presenter.show(rangeMessage(QStringLiteral("Time between polls"), 0, MaxIntervalMs));
        return;
    }
    m_polling = true;
    updateControls();
    m_loop->start(interval->rounded);
}

void PollPanel::pollRead(const ModuleRequest& request, PollLoop::Done done,
                         std::function<bool(const Reply&)> take) {
    request.send(m_link, m_slave,
                 {this, [this, done = std::move(done), take = std::move(take)](const Reply& reply) {
                      if (take(reply)) {
                          m_readings->request();
                          Q_EMIT inputsDecoded(m_loop->pollCount());
                      } else {
                          m_loop->countError();
                      }
                      done(reply.status);
                  }});
}

void PollPanel::setWriting(bool writing) {
    m_writing = writing;
    updateControls();
}

void PollPanel::updateControls() {
    const bool ready = m_ours && !m_polling && !m_writing;
    m_scan->setEnabled(ready);
    m_stop->setEnabled(m_polling);
    m_close->setEnabled(!m_polling);
    m_interval->setEnabled(!m_polling);
    // Files only fill fields or save them: they send nothing.
    for (QPushButton* b : {m_saveConfig, m_openConfig})
        if (b)
            b->setEnabled(m_ours);
    m_sb->setPanel(3, m_polling ? QStringLiteral("SCAN") : QStringLiteral("STOP"));
    enableCommands(ready);
}

void PollPanel::showCounts() {
    m_sb->setPanel(1, QStringLiteral("Err: %1").arg(m_loop->shownErrorCount()));
    m_sb->setPanel(2, QStringLiteral("Poll: %1").arg(m_loop->shownPollCount()));
}

void PollPanel::closeEvent(QCloseEvent* event) {
    // However the panel closes (Close, the title bar), no request may go out
    // for a window about to go.
    m_loop->shutdown();
    QWidget::closeEvent(event);
}

} // namespace qim
