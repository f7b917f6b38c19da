#pragma once
// What the panel tests share: a link, a presenter and the temperature
// registers as the main window keeps them, a simulated bus on loopback TCP,
// and the panel, worked through Window by its controls' names.

#include "DeviceTable.h"
#include "Link.h"
#include "MessagePresenter.h"
#include "SimBus.h"
#include "StatusPanels.h"
#include "TemperatureDialogs.h"
#include "TemperatureModule.h"
#include "TestSupport.h"
#include "Window.h"

#include <memory>

namespace paneltest {

inline QList<qimsim::RequestRecord> requestsOf(const qimsim::Bus& bus, int function) {
    QList<qimsim::RequestRecord> out;
    for (const auto& r : bus.requests())
        if (r.function == function)
            out << r;
    return out;
}

inline qimsim::Fault faultOf(qimsim::Fault::Kind kind, int delayMs = 0) {
    qimsim::Fault f;
    f.kind = kind;
    f.delayMs = delayMs;
    f.exceptionCode = 4;
    return f;
}

class PanelFixture {
protected:
    std::unique_ptr<qim::Link> link;
    qim::MessagePresenter presenter;
    qim::TemperatureRegisters regs;
    qim::TemperatureDialogs dialogs{regs, presenter};
    QStringList seen; // the messages shown so far
    std::unique_ptr<qimsim::Bus> bus;
    QPointer<QWidget> panel;

    // A fresh link and registers, and a bus on loopback TCP at a free port.
    bool tcpBus() {
        link = std::make_unique<qimtest::RealLink>();
        QObject::connect(link.get(), &qim::Link::message, &presenter, &qim::MessagePresenter::show);
        bus = std::make_unique<qimsim::Bus>();
        regs = {};
        presenter.dismissAll();
        seen.clear();
        qim::LinkSettings s;
        s.transport = qim::LinkSettings::Transport::Tcp;
        s.host = QStringLiteral("127.0.0.1");
        const bool ok = bus->listenTcp(QHostAddress::LocalHost, 0);
        s.port = bus->tcpPort();
        link->setSettings(s);
        return ok;
    }
    // A panel as the main window opens it for a module at address with code.
    template <class P, class... Extra> P* open(uint8_t address, uint8_t code, Extra&... extra) {
        auto* p = new P(*link, presenter, extra...);
        qim::DeviceRecord r;
        r.address = address;
        r.code = code;
        p->showModule(r);
        p->show();
        panel = p;
        return p;
    }
    bool closePanel() {
        if (panel)
            panel->close();
        const bool gone = QTest::qWaitFor([&] { return panel.isNull(); }, 5000);
        presenter.dismissAll();
        return gone;
    }

    qimtest::Window ui() const { return qimtest::Window(panel.data()); }
    template <class T = QWidget> T* w(const QString& name) const { return ui().get<T>(name); }
    void click(const QString& name) const { ui().click(name); }
    void type(const QString& name, const QString& text) const { ui().type(name, text); }
    bool enabled(const QString& name) const { return ui().enabled(name); }
    QString label(const QString& name) const { return ui().text(name); }
    QString sb(int i) const { return ui().status(i); }
    int polls() const { return sb(2).mid(6).toInt(); }
    // Every message shown so far, each box answered with OK.
    QStringList messages() {
        seen += qimtest::takeMessages();
        return seen;
    }

    void scan(const QString& interval) const {
        type(QStringLiteral("TextScanTimer"), interval);
        click(QStringLiteral("CmdScan"));
    }
    bool waitStopped() const {
        return QTest::qWaitFor([&] { return sb(3) == QLatin1String("STOP"); }, 10000);
    }
    bool stop() const {
        click(QStringLiteral("CmdStop"));
        return waitStopped();
    }
};

} // namespace paneltest
