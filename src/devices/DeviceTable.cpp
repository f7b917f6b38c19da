#include "DeviceTable.h"

namespace qim {

const DeviceRecord& DeviceTable::at(int index) const {
    static const DeviceRecord none;
    return index >= 0 && index < Size ? m_records[static_cast<size_t>(index)] : none;
}

void DeviceTable::clear() {
    m_records.fill(DeviceRecord{});
}

std::optional<LineSpeed> identifiedLineSpeed(uint8_t code) {
    static constexpr LineSpeed byCode[] = {LineSpeed::Baud115200, LineSpeed::Baud57600,
                                           LineSpeed::Baud19200, LineSpeed::Baud9600};
    return code < std::size(byCode) ? std::optional(byCode[code]) : std::nullopt;
}

bool DeviceTable::addFoundDevice(int index, const Reply& reply) {
    if (index < 0 || index >= Size || !reply.holds(IdentificationMinimum))
        return false;
    DeviceRecord& d = m_records[static_cast<size_t>(index)];
    auto b = [&reply](int i) { return reply.byteAt(i); };
    d.address = b(0);
    d.code = b(3);
    d.inputRegisters = b(12);
    d.outputRegisters = b(13);
    d.discreteInputs = b(14);
    d.discreteOutputs = b(15);
    d.vendor.set(QStringLiteral("Velmora Labs"));
    d.firmwareRevision.set(QStringLiteral("%1.%2").arg(b(6)).arg(b(7)));
    d.hardwareRevision.set(QString(QChar::fromLatin1(static_cast<char>(b(8)))));
    d.connectionMode.set(b(9) == 0 ? QStringLiteral("RS422") : QStringLiteral("TCP/IP"));
    // Unlisted codes leave the fields as they were (blank after the scan's clear).
    if (const auto speed = identifiedLineSpeed(b(10)))
        d.baudRate.set(QString::number(bitsPerSecond(*speed)));
    if (const QString name = deviceNameOf(b(3)); !name.isEmpty()) {
        d.name.set(name);
        d.type.set(deviceTypeOf(b(3)));
    }
    return true;
}

namespace {
// A field as a window shows it: a cleared field's NUL characters as blanks.
QString shown(const QString& text) {
    QString s = text;
    return s.replace(QChar(0), QLatin1Char(' '));
}
} // namespace

std::array<DeviceField, DeviceFieldCount> deviceFields(const DeviceRecord& r) {
    return {{
        {"Device Name", shown(r.name.text)},
        {"Device Address", QString::number(r.address)},
        {"Device Code", QString::number(r.code)},
        {"Vendor", shown(r.vendor.text)},
        {"Firmware Revision", shown(r.firmwareRevision.text)},
        {"Hardware Revision", shown(r.hardwareRevision.text)},
        {"Connection Mode", shown(r.connectionMode.text)},
        {"Baud Rate", shown(r.baudRate.text)},
        {"Device Type", shown(r.type.text)},
        {"Input Register", QString::number(r.inputRegisters)},
        {"Output Register", QString::number(r.outputRegisters)},
        {"Discrete Input", QString::number(r.discreteInputs)},
        {"Discrete Output", QString::number(r.discreteOutputs)},
    }};
}

QString deviceListLine(const DeviceRecord& r) {
    return shown(r.name.text) + QString(10, QLatin1Char(' ')) + QString::number(r.address);
}

} // namespace qim
