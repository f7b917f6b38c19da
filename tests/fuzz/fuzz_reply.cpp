// libFuzzer target: arbitrary bytes, in arbitrary pieces, as a slave's reply
// to every request kind on both links, through the reply collection, verdict,
// accessors and every decoder. Byte 0 picks the request kind (bits 0-2) and
// the link (bit 3); byte 1 seeds the piece sizes; the rest is the reply.

#include "AnalogModule.h"
#include "DeviceTable.h"
#include "DiscreteModule.h"
#include "Frames.h"
#include "Reply.h"
#include "TemperatureModule.h"

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
    const Asked asked[] = {
        {Request::readInputRegisters(4, 0, 12), 12}, // the temperature panel's poll
        {Request::readHoldingRegisters(1, 0, 1), 1}, // the discrete panel's poll
        {Request::reportSlaveId(7), 0},
        {Request::writeSingleCoil(4, 2, 0xFF00), 0},
        {Request::writeSingleRegister(1, 0, 5), 0},
        {Request::writeMultipleRegisters(4, 7, 20, image), 0},
        {Request::readInputRegisters(2, 0, 8), 8}, // the analog panel's poll
        {Request::readHoldingRegisters(1, 0, 1), 1},
    };
    return asked[kind];
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
    decodeAsModels(reply);
    DeviceTable table;
    if (reply.ok() && table.addFoundDevice(0, reply))
        sink = sink + static_cast<unsigned>(deviceListLine(table.at(0)).size());
    (void)sink;
    return 0;
}
