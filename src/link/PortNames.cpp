#include "PortNames.h"

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

// The system's real serial ports in the order rule 2 counts them.
QStringList enumeratedPorts() {
    QStringList out;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports) {
        if (!isPlaceholder(info))
            out << info.systemLocation();
    }
    sortByLocation(out);
    return out;
}

} // namespace

QString comName(int n) {
    return QStringLiteral("COM%1").arg(n);
}

QString portFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/qimtool/ports");
}

void sortByLocation(QStringList& paths) {
    // Written out rather than QCollator's numeric mode: whether that works
    // depends on the collation backend Qt was built with (without ICU it puts
    // "ttyS10" before "ttyS2"), and COMn must not open another device.
    const auto number = [](const QString& s, qsizetype& at) {
        const qsizetype begin = at;
        while (at < s.size() && s[at].isDigit())
            ++at;
        QStringView digits = QStringView(s).mid(begin, at - begin);
        while (digits.size() > 1 && digits.front() == QLatin1Char('0'))
            digits = digits.mid(1);
        return digits;
    };
    const auto less = [&number](const QString& a, const QString& b) {
        qsizetype i = 0;
        qsizetype j = 0;
        while (i < a.size() && j < b.size()) {
            if (a[i].isDigit() && b[j].isDigit()) {
                const QStringView na = number(a, i);
                const QStringView nb = number(b, j);
                // Without leading zeros, more digits make the larger number.
                if (na.size() != nb.size())
                    return na.size() < nb.size();
                if (const int c = na.compare(nb); c != 0)
                    return c < 0;
                continue;
            }
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
        return a.size() - i < b.size() - j;
    };
    std::stable_sort(paths.begin(), paths.end(), less);
}

Resolution resolve(int n) {
    if (n < 1 || n > PortCount)
        return {};
    const QFileInfo entry(portFolder() + QLatin1Char('/') + comName(n));
    if (entry.isSymLink() || entry.exists()) {
        const QString target = entry.isSymLink() ? entry.symLinkTarget() : entry.absoluteFilePath();
        // A pin whose device is gone opens nothing; it does not fall through
        // to another port the user never chose.
        return QFileInfo::exists(target) ? Resolution{target, Resolution::Pinned} : Resolution{};
    }
    const QStringList ports = enumeratedPorts();
    if (n <= ports.size())
        return {ports.at(n - 1), Resolution::Enumerated};
    return {};
}

QString describe(int n) {
    const Resolution r = resolve(n);
    switch (r.source) {
    case Resolution::Pinned:
        return QStringLiteral("%1 opens %2 (pinned)").arg(comName(n), r.device);
    case Resolution::Enumerated:
        return QStringLiteral("%1 opens %2").arg(comName(n), r.device);
    case Resolution::None:
        break;
    }
    return QStringLiteral("%1 opens no device on this computer").arg(comName(n));
}

bool publish(int n, const QString& device) {
    if (n < 1 || n > PortCount || !QDir().mkpath(portFolder()))
        return false;
    const QString entry = portFolder() + QLatin1Char('/') + comName(n);
    QFile::remove(entry);
    return QFile::link(device, entry);
}

void unpublish(int n, const QString& expectedDevice) {
    const QString entry = portFolder() + QLatin1Char('/') + comName(n);
    const QFileInfo info(entry);
    // Leave a pin alone that someone else has replaced meanwhile.
    if (!expectedDevice.isEmpty() && info.symLinkTarget() != expectedDevice)
        return;
    QFile::remove(entry);
}

} // namespace qim::PortNames
