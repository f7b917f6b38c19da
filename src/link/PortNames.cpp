#include "PortNames.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStandardPaths>
#include <algorithm>

namespace qim::PortNames {

namespace {

// The kernel lists ttyS0..ttyS31 whether or not a UART sits behind them; a
// placeholder reports port type 0 (unknown).
bool isPlaceholder(const QSerialPortInfo& info) {
    if (!info.portName().startsWith(QLatin1String("ttyS")))
        return false;
    QFile type(QStringLiteral("/sys/class/tty/%1/type").arg(info.portName()));
    if (!type.open(QIODevice::ReadOnly))
        return !info.hasVendorIdentifier();
    return type.readAll().trimmed() == "0";
}

} // namespace

QString ComName(int n) {
    return QStringLiteral("COM%1").arg(n);
}

QString PortFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/qimtool/ports");
}

QStringList EnumeratedPorts() {
    QStringList out;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports) {
        if (!isPlaceholder(info))
            out << info.systemLocation();
    }
    // "/dev/ttyS10" after "/dev/ttyS2": digits compare as numbers, whatever the user's locale.
    QCollator order{QLocale::c()};
    order.setNumericMode(true);
    std::sort(out.begin(), out.end(), order);
    return out;
}

Resolution Resolve(int n) {
    if (n < 1 || n > PortCount)
        return {};
    const QFileInfo entry(PortFolder() + QLatin1Char('/') + ComName(n));
    if (entry.isSymLink() || entry.exists()) {
        const QString target = entry.isSymLink() ? entry.symLinkTarget() : entry.absoluteFilePath();
        // A pin whose device is gone opens nothing; it does not fall through
        // to another port the user never chose.
        return QFileInfo::exists(target) ? Resolution{target, Resolution::Pinned} : Resolution{};
    }
    const QStringList ports = EnumeratedPorts();
    if (n <= ports.size())
        return {ports.at(n - 1), Resolution::Enumerated};
    return {};
}

QString Describe(int n) {
    const Resolution r = Resolve(n);
    switch (r.source) {
    case Resolution::Pinned:
        return QStringLiteral("%1 opens %2 (pinned)").arg(ComName(n), r.device);
    case Resolution::Enumerated:
        return QStringLiteral("%1 opens %2").arg(ComName(n), r.device);
    case Resolution::None:
        break;
    }
    return QStringLiteral("%1 opens no device on this computer").arg(ComName(n));
}

bool Publish(int n, const QString& device) {
    if (n < 1 || n > PortCount || !QDir().mkpath(PortFolder()))
        return false;
    const QString entry = PortFolder() + QLatin1Char('/') + ComName(n);
    QFile::remove(entry);
    return QFile::link(device, entry);
}

void Unpublish(int n, const QString& expectedDevice) {
    const QString entry = PortFolder() + QLatin1Char('/') + ComName(n);
    const QFileInfo info(entry);
    // Leave a pin alone that someone else has replaced meanwhile.
    if (!expectedDevice.isEmpty() && info.symLinkTarget() != expectedDevice)
        return;
    QFile::remove(entry);
}

} // namespace qim::PortNames
