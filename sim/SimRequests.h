#pragma once
// What the simulated modules do with a request PDU, on the function codes
// the program uses (qim::Function). Internal to the simulator library.

#include "Frames.h"
#include "SimBus.h"

#include <QByteArray>

namespace qimsim {

using qim::Function;

inline uint16_t word(const QByteArray& b, int i) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[i]) << 8 | static_cast<uint8_t>(b[i + 1]));
}

inline void putWord(QByteArray& b, int v) {
    b.append(static_cast<char>((v >> 8) & 0xFF));
    b.append(static_cast<char>(v & 0xFF));
}

inline QByteArray exceptionPdu(uint8_t function, uint8_t code) {
    QByteArray e;
    e.append(static_cast<char>(function | 0x80));
    e.append(static_cast<char>(code));
    return e;
}

// Fills in what the request asks for (function, start, count, values),
// whether or not anyone carries it out.
void describe(const QByteArray& pdu, RequestRecord& rec);

} // namespace qimsim
