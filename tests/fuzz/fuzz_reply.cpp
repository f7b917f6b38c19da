// libFuzzer target: arbitrary bytes, in arbitrary pieces, as a slave's reply to
// every request kind on both links, through the engines' reply collection and
// verdict, the reply accessors, the identification decoding and the panels'
// widget-free decoders (temperature registers, analog scaling, discrete bits).
//
// Input layout: byte 0 picks the request kind (bits 0-2) and the link
// (bit 3); byte 1 seeds the piece sizes; the rest is what the slave sends.

#include "AnalogScale.h"
#include "DeviceTable.h"
#include "Frames.h"
#include "Reply.h"
#include "TemperatureRegisters.h"

#include <QBuffer>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>

using namespace qim;

namespace {

struct Asked {
    Request request;
    int registers = 0; // registers a good reply carries
};

Asked build(int kind) {
    static const int32_t image[29] = {};
    switch (kind) {
    case 0: // the temperature panel's poll
        return {Request::readInputRegisters(4, 0, 12), 12};
    case 6: // the analog panel's poll
        return {Request::readInputRegisters(2, 0, 8), 8};
    case 1: // the discrete panel's poll
    case 7:
        return {Request::readHoldingRegisters(1, 0, 1), 1};
    case 2:
        return {Request::reportSlaveId(7), 0};
    case 3:
        return {Request::writeSingleCoil(4, 2, 0xFF00), 0};
    case 4:
        return {Request::writeSingleRegister(1, 0, 5), 0};
    default:
        return {Request::writeMultipleRegisters(4, 7, 20, image), 0};
    }
}

// What the panels make of a reply, with the checks that hold for any bytes.
void decodeAsPanels(const Reply& reply) {
    // Temperature panel: all twelve registers are decoded, or none is stored.
    constexpr int32_t untouched = 0x7EADBEEF;
    TemperatureRegisters temperature;
    temperature.inputs.fill(untouched);
    const bool decoded = temperature.decodeInputs(reply);
    if (decoded != reply.hasRegisters(TempInputCount))
        abort();
    for (int k = 0; k < TempInputCount; ++k) {
        const int32_t v = temperature.inputs[static_cast<size_t>(k)];
        if (!decoded) {
            if (v != untouched)
                abort();
            continue;
        }
        // Process values (12-bit), status words, cold junctions (8-bit).
        const bool inField = k < 4   ? v >= -2048 && v <= 65535 - 4096
                             : k < 8 ? v >= 0 && v <= 65535
                                     : v >= -128 && v <= 65535 - 256;
        if (!inField)
            abort();
        // A status word's eight bits and its power byte, as the loop view shows them.
        if (k >= 4 && k < 8 && (HiByte(v) != v >> 8 || GetBit(LoByte(v), 7) != (v >> 7 & 1)))
            abort();
    }

    // Analog panel: every channel in every range (and a code no list offers)
    // becomes volts inside the range, shown with at most four decimals.
    if (reply.hasRegisters(8)) {
        for (int k = 0; k < 8; ++k) {
            const int32_t counts = *reply.reg(k);
            for (int code = -1; code <= 5; ++code) {
                const Analog::InputRange& r =
                    Analog::Ranges[code >= 0 && code < 5 ? code : Analog::DefaultRange];
                const double v = Analog::Volts(counts, code);
                if (!(v >= -r.offset - 1e-9 && v <= r.span - r.offset + 1e-9))
                    abort();
                const QString text = Analog::VoltsText(counts, code, QLocale::c());
                bool ok = false;
                const double shown = text.toDouble(&ok);
                const qsizetype point = text.indexOf(QLatin1Char('.'));
                if (!ok || std::fabs(shown - v) > 0.00005 + 1e-9 ||
                    (point >= 0 && text.size() - point - 1 > 4))
                    abort();
            }
        }
    }

    // Discrete panel: input k is bit k of the low byte, whatever the high byte holds.
    if (reply.hasRegisters(1)) {
        const uint16_t value = *reply.reg(0);
        for (uint8_t b = 0; b < 8; ++b)
            if (GetBit(LoByte(value), b) != (value >> b & 1))
                abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const bool tcp = data[0] & 0x08;
    const Asked req = build(data[0] & 0x07);
    uint32_t seed = data[1] * 2654435761u + 1;
    const QByteArray wire(reinterpret_cast<const char*>(data + 2),
                          static_cast<qsizetype>(size - 2));

    std::unique_ptr<ReplyCollector> rx;
    if (tcp)
        rx = std::make_unique<Tcp::ReplyCollector>(req.request);
    else
        rx = std::make_unique<Rtu::ReplyCollector>(req.request);
    bool endedEarly = false;
    QBuffer line;
    for (qsizetype at = 0; at < wire.size() && !endedEarly;) {
        seed = seed * 1103515245u + 12345u;
        const qsizetype piece = 1 + static_cast<qsizetype>((seed >> 16) % 40);
        line.setData(wire.mid(at, piece));
        line.open(QIODevice::ReadOnly);
        endedEarly = rx->feed(line);
        line.close();
        at += piece;
    }
    const Reply reply{rx->verdict(!endedEarly), rx->reply()};
    const int16_t status = reply.status;

    // A success always carries the whole expected reply, never less...
    if (reply.ok() && reply.bytes.size() != req.request.replyLength + 1)
        abort();
    // ...and, on the serial link, comes from the unit and function asked.
    if (!tcp && reply.ok() &&
        (reply.byteAt(0) != req.request.unit || reply.byteAt(1) != req.request.function()))
        abort();
    if (status >= 252 && status != 255 && status != 254 && status != 253 && status != 252)
        abort();
    if (rx->bytes().size() > LineBuffer)
        abort();

    // Decoding reads only what arrived.
    volatile unsigned sink = 0;
    for (int k = -1; k < 140; ++k)
        sink = sink + reply.reg(k).value_or(0) + reply.byteAt(k);
    if (reply.hasRegisters(req.registers)) {
        for (int k = 0; k < req.registers; ++k)
            if (!reply.reg(k))
                abort();
    }
    decodeAsPanels(reply);
    DeviceTable table;
    if (reply.ok() && table.addFoundDevice(0, reply))
        sink = sink + static_cast<unsigned>(DeviceListLine(table.at(0)).size());
    (void)sink;
    return 0;
}
