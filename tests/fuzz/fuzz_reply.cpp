// libFuzzer target: arbitrary bytes, in arbitrary pieces, as a slave's reply to
// every request kind on both links, through the engines' reply collection and
// verdict, the reply accessors, the identification decoding and the module
// models' decoders (temperature loops, analog scaling, discrete bits).
//
// Input layout: byte 0 picks the request kind (bits 0-2) and the link
// (bit 3); byte 1 seeds the piece sizes; the rest is what the slave sends.

#include "AnalogModule.h"
#include "DeviceTable.h"
#include "DiscreteModule.h"
#include "Frames.h"
#include "Reply.h"
#include "TemperatureModule.h"

#include <cstdint>
#include <cstdlib>

using namespace qim;

namespace {

struct Request {
    Frame frame;
    int registers = 0; // registers a good reply carries
};

Request build(int kind, bool tcp) {
    static const int32_t image[29] = {};
    switch (kind) {
    case 0: // the temperature panel's poll
        return {tcp ? Tcp::ReadInputRegisters(1, 4, 0, 12) : Rtu::ReadInputRegisters(4, 0, 12), 12};
    case 6: // the analog panel's poll
        return {tcp ? Tcp::ReadInputRegisters(1, 2, 0, 8) : Rtu::ReadInputRegisters(2, 0, 8), 8};
    case 1: // the discrete panel's poll
    case 7:
        return {tcp ? Tcp::ReadHoldingRegisters(1, 1, 0, 1) : Rtu::ReadHoldingRegisters(1, 0, 1),
                1};
    case 2:
        return {tcp ? Tcp::ReportSlaveId(0, 7) : Rtu::ReportSlaveId(7), 0};
    case 3:
        return {tcp ? Tcp::WriteSingleCoil(0, 4, 2, 0xFF00) : Rtu::WriteSingleCoil(4, 2, 0xFF00),
                0};
    case 4:
        return {tcp ? Tcp::WriteSingleRegister(0, 1, 0, 5) : Rtu::WriteSingleRegister(1, 0, 5), 0};
    default:
        return {tcp ? Tcp::WriteMultipleRegisters(0, 4, 7, 20, image)
                    : Rtu::WriteMultipleRegisters(4, 7, 20, image),
                0};
    }
}

// What the models make of a reply, with the checks that hold for any bytes.
void decodeAsModels(const Reply& reply) {
    // Temperature: all twelve registers are decoded, or nothing is.
    const auto readings = Temperature::decodeInputs(reply);
    if (readings.has_value() != reply.hasRegisters(12))
        abort();
    for (int n = 0; readings && n < Temperature::Loops; ++n) {
        // A status word: its power byte and eight flags.
        const Temperature::LoopReading& loop = (*readings)[size_t(n)];
        if (loop.heaterPower * 256 + loop.flags != *reply.reg(4 + n))
            abort();
    }
    if (Temperature::decodeLoops(reply).has_value() != reply.hasRegisters(20))
        abort();

    // Analog: all eight inputs or none (their volts are checked for every
    // count by the model test).
    if (Analog::decodeInputs(reply).has_value() != reply.hasRegisters(8))
        abort();

    // Discrete: the inputs are the low byte, whatever the high byte holds.
    const auto inputs = Discrete::decodeInputs(reply);
    if (inputs.has_value() != reply.hasRegisters(1) ||
        (inputs && *inputs != (*reply.reg(0) & 0xFF)))
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const bool tcp = data[0] & 0x08;
    const Request req = build(data[0] & 0x07, tcp);
    uint32_t seed = data[1] * 2654435761u + 1;
    const QByteArray wire(reinterpret_cast<const char*>(data + 2),
                          static_cast<qsizetype>(size - 2));

    ReplyCollector rx(tcp, req.frame);
    bool endedEarly = false;
    for (qsizetype at = 0; at < wire.size() && !endedEarly;) {
        seed = seed * 1103515245u + 12345u;
        const qsizetype piece = 1 + static_cast<qsizetype>((seed >> 16) % 40);
        endedEarly = rx.feed(wire.mid(at, piece));
        at += piece;
    }
    const int16_t status = rx.verdict(!endedEarly);
    const Reply reply{status, tcp ? rx.bytes().mid(6) : rx.bytes(), tcp};

    // A success always carries the whole expected reply, never less.
    const int expected = req.frame.expectedLength;
    const int got =
        tcp ? static_cast<int>(reply.bytes.size()) : static_cast<int>(rx.bytes().size());
    if (reply.ok() && got != expected)
        abort();
    // ...and, on the serial link, comes from the unit and function asked.
    if (!tcp && reply.ok() && reply.bytes.left(2) != req.frame.bytes.left(2))
        abort();
    if (status >= 252 && status != 255 && status != 254 && status != 253 && status != 252)
        abort();
    if (rx.bytes().size() > ReplyCollector::LineBuffer)
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
    decodeAsModels(reply);
    DeviceTable table;
    if (reply.ok() && table.addFoundDevice(0, reply))
        sink = sink + static_cast<unsigned>(DeviceListLine(table.at(0)).size());
    (void)sink;
    return 0;
}
