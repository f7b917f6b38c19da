#pragma once
// What the panel tests share: a simulated bus reached over loopback TCP or
// its pty, a selected device, and driving a panel's controls by name.

#include "DeviceTable.h"
#include "General.h"
#include "Link.h"
#include "MessagePresenter.h"
#include "SimBus.h"
#include "StatusPanels.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <memory>

namespace paneltest {

// The main window's selection: DeviceTable[index] holds the module and is selected.
inline void SelectDevice(uint8_t address, uint8_t code, int index = 0) {
    qim::ClearDeviceTable();
    qim::DeviceTable[static_cast<size_t>(index)].DeviceAddress = address;
    qim::DeviceTable[static_cast<size_t>(index)].DeviceCode = code;
    qim::SelectedAddress = static_cast<int16_t>(index);
}

inline QList<qimsim::RequestRecord> RequestsOf(const qimsim::Bus& bus, int function) {
    QList<qimsim::RequestRecord> out;
    for (const auto& r : bus.requests())
        if (r.function == function)
            out << r;
    return out;
}

inline qimsim::Fault FaultOf(qimsim::Fault::Kind kind, int delayMs = 0) {
    qimsim::Fault f;
    f.kind = kind;
    f.delayMs = delayMs;
    f.exceptionCode = 4;
    return f;
}

class PanelFixture {
protected:
    std::unique_ptr<qimsim::Bus> bus;
    QPointer<QWidget> panel;

    // A fresh link and a bus on loopback TCP at a free port, short timeouts.
    bool tcpBus() {
        qim::Link::instance().reset();
        qim::AssignLinkDefaults();
        bus = std::make_unique<qimsim::Bus>();
        qim::General::CommMode = 1;
        qim::General::IPAddress = QStringLiteral("127.0.0.1");
        qim::General::TCPTimeout = 400;
        qim::General::TCPConnectTimeout = 1000;
        const bool ok = bus->listenTcp(QHostAddress::LocalHost, 0);
        qim::General::ServerPort = bus->tcpPort();
        qim::MessagePresenter::instance().clearHistory();
        return ok;
    }
    // The bus over its pty, published as COM3.
    bool serialBus() {
        qim::Link::instance().reset();
        qim::AssignLinkDefaults();
        bus = std::make_unique<qimsim::Bus>();
        qim::General::CommMode = 0;
        qim::General::ComPortIndex = 2;
        qim::General::SerialTimeout = 400;
        return bus->openPty(3);
    }
    bool closePanel() {
        if (panel)
            panel->close();
        const bool gone = QTest::qWaitFor([&] { return panel.isNull(); }, 5000);
        qim::MessagePresenter::instance().dismissAll();
        qim::Link::instance().reset();
        return gone;
    }

    // A control by name; a missing one ends the test program.
    template <class T = QWidget> T* w(const QString& name) const {
        T* c = panel ? panel->findChild<T*>(name) : nullptr;
        if (!c)
            qFatal("no control %s", qPrintable(name));
        return c;
    }
    void click(const QString& name) const { w<QAbstractButton>(name)->click(); }
    void type(const QString& name, const QString& text) const { w<QLineEdit>(name)->setText(text); }
    bool enabled(const QString& name) const { return w(name)->isEnabled(); }
    QString label(const QString& name) const { return w<QLabel>(name)->text(); }
    QString sb(int i) const { return w<qim::StatusPanels>(QStringLiteral("SB"))->text(i); }
    QStringList messages() const { return qim::MessagePresenter::instance().history(); }

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
