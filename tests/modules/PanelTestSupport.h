#pragma once
// What the panel tests share: a simulated bus reached over loopback TCP or
// its pty, a selected device, and finding controls by their names.

#include "DeviceTable.h"
#include "General.h"
#include "Link.h"
#include "MessagePresenter.h"
#include "SimBus.h"

#include <QHostAddress>
#include <QPointer>
#include <QTest>
#include <QWidget>
#include <memory>

namespace paneltest {

// Finds a control by name; fails the test where it is missing.
#define FIND(var, Type, root, name)                                                                \
    auto* var = (root)->findChild<Type*>(QString::fromUtf8(name));                                 \
    QVERIFY2(var, name)

// The offscreen platform cannot raise a window or pass size hints on, and
// says so for every window shown; only those two notes are dropped.
inline void IgnoreOffscreenPlatformNotes() {
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            if (type == QtWarningMsg &&
                (message == QLatin1String("This plugin does not support raise()") ||
                 message == QLatin1String("This plugin does not support propagateSizeHints()")))
                return;
            if (previous)
                previous(type, context, message);
        });
}

// The main window's selection: DeviceTable[index] holds the module and is selected.
inline void SelectDevice(uint8_t address, uint8_t code, int index = 0) {
    qim::ClearDeviceTable();
    qim::DeviceRecord r;
    r.DeviceAddress = address;
    r.DeviceCode = code;
    qim::DeviceTable[static_cast<size_t>(index)] = r;
    qim::SelectedAddress = static_cast<int16_t>(index);
}

// Requests of one function code, in the order the bus received them.
inline QList<qimsim::RequestRecord> RequestsOf(const qimsim::Bus& bus, int function) {
    QList<qimsim::RequestRecord> out;
    for (const auto& r : bus.requests())
        if (r.function == function)
            out << r;
    return out;
}

// A fresh link and a bus on loopback TCP at a free port, with short timeouts.
inline std::unique_ptr<qimsim::Bus> TcpBus() {
    qim::Link::instance().reset();
    qim::AssignLinkDefaults();
    auto bus = std::make_unique<qimsim::Bus>();
    if (!bus->listenTcp(QHostAddress::LocalHost, 0))
        return nullptr;
    qim::General::CommMode = 1;
    qim::General::IPAddress = QStringLiteral("127.0.0.1");
    qim::General::ServerPort = bus->tcpPort();
    qim::General::TCPTimeout = 400;
    qim::General::TCPConnectTimeout = 1000;
    return bus;
}

// The same bus over its pty, published as COM3, at the link's default 19200 bit/s.
inline std::unique_ptr<qimsim::Bus> SerialBus() {
    qim::Link::instance().reset();
    qim::AssignLinkDefaults();
    auto bus = std::make_unique<qimsim::Bus>();
    if (!bus->openPty(3))
        return nullptr;
    qim::General::CommMode = 0;
    qim::General::ComPortIndex = 2; // COM3
    qim::General::SerialTimeout = 400;
    return bus;
}

// Closes a panel and waits until it is gone.
inline bool CloseAndWait(QWidget* w) {
    if (!w)
        return true;
    QPointer<QWidget> p(w);
    p->close();
    return QTest::qWaitFor([&] { return p.isNull(); }, 5000);
}

} // namespace paneltest
