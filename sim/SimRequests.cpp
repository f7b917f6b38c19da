#include "SimRequests.h"

namespace qimsim {

void describe(const QByteArray& pdu, RequestRecord& rec) {
    if (pdu.isEmpty())
        return;
    rec.function = static_cast<uint8_t>(pdu[0]);
    if (pdu.size() < 5 || rec.function == uint8_t(Function::ReportSlaveId))
        return;
    rec.start = word(pdu, 1);
    switch (Function(rec.function)) {
    case Function::ReadCoils:
    case Function::ReadDiscreteInputs:
    case Function::ReadHoldingRegisters:
    case Function::ReadInputRegisters:
        rec.count = word(pdu, 3);
        break;
    case Function::WriteSingleCoil:
    case Function::WriteSingleRegister:
        rec.values = {word(pdu, 3)};
        break;
    case Function::WriteMultipleRegisters: {
        rec.count = word(pdu, 3);
        for (int k = 0; k < rec.count && 6 + 2 * k + 1 < pdu.size(); ++k)
            rec.values << word(pdu, 6 + 2 * k);
        break;
    }
    default:
        break;
    }
}

struct Executor {
    Module& m;
    bool overTcp;

    std::optional<uint16_t> wireRead(int function, int address) const {
        const auto it = m.m_forced.find({function, address});
        if (it != m.m_forced.end())
            return it->second;
        return m.read(function, address);
    }

    QByteArray run(const QByteArray& pdu) {
        const uint8_t fc = static_cast<uint8_t>(pdu[0]);
        if (!m.supports(fc))
            return exceptionPdu(fc, 1);
        switch (Function(fc)) {
        case Function::ReportSlaveId: {
            QByteArray r;
            r.append(static_cast<char>(fc));
            r.append(static_cast<char>(18));
            r.append(m.identification(overTcp));
            return r;
        }
        case Function::ReadCoils: {
            if (pdu.size() < 5)
                return exceptionPdu(fc, 3);
            const int start = word(pdu, 1), count = word(pdu, 3);
            if (count < 1 || count > 2000)
                return exceptionPdu(fc, 3);
            QByteArray bits((count + 7) / 8, '\0');
            for (int k = 0; k < count; ++k) {
                const auto v = wireRead(fc, start + k);
                if (!v)
                    return exceptionPdu(fc, 2);
                if (*v)
                    bits[k / 8] =
                        static_cast<char>(static_cast<uint8_t>(bits[k / 8]) | 1u << (k % 8));
            }
            QByteArray r;
            r.append(static_cast<char>(fc));
            r.append(static_cast<char>(bits.size()));
            return r + bits;
        }
        case Function::ReadHoldingRegisters:
        case Function::ReadInputRegisters: {
            if (pdu.size() < 5)
                return exceptionPdu(fc, 3);
            const int start = word(pdu, 1), count = word(pdu, 3);
            if (count < 1 || count > 125)
                return exceptionPdu(fc, 3);
            QByteArray r;
            r.append(static_cast<char>(fc));
            r.append(static_cast<char>(2 * count));
            for (int k = 0; k < count; ++k) {
                const auto v = wireRead(fc, start + k);
                if (!v)
                    return exceptionPdu(fc, 2);
                putWord(r, *v);
            }
            return r;
        }
        case Function::WriteSingleCoil: {
            if (pdu.size() < 5)
                return exceptionPdu(fc, 3);
            const uint16_t value = word(pdu, 3);
            if (value != 0xFF00 && value != 0x0000)
                return exceptionPdu(fc, 3);
            if (!m.writeCoil(word(pdu, 1), value == 0xFF00))
                return exceptionPdu(fc, 2);
            return pdu.left(5);
        }
        case Function::WriteSingleRegister: {
            if (pdu.size() < 5)
                return exceptionPdu(fc, 3);
            const int address = word(pdu, 1);
            if (!m.writable(address))
                return exceptionPdu(fc, 2);
            m.write(address, word(pdu, 3));
            return pdu.left(5);
        }
        case Function::WriteMultipleRegisters: {
            if (pdu.size() < 6)
                return exceptionPdu(fc, 3);
            const int start = word(pdu, 1), count = word(pdu, 3);
            const int bytes = static_cast<uint8_t>(pdu[5]);
            if (count < 1 || count > 123 || bytes != 2 * count || pdu.size() < 6 + bytes)
                return exceptionPdu(fc, 3);
            for (int k = 0; k < count; ++k) {
                if (!m.writable(start + k))
                    return exceptionPdu(fc, 2);
            }
            for (int k = 0; k < count; ++k)
                m.write(start + k, word(pdu, 6 + 2 * k));
            return pdu.left(5);
        }
        default:
            return exceptionPdu(fc, 1);
        }
    }
};

QByteArray Bus::handle(uint8_t address, const QByteArray& pdu, RequestRecord* record,
                       bool overTcp) {
    RequestRecord local;
    RequestRecord& rec = record ? *record : local;
    rec.address = address;
    describe(pdu, rec);
    if (pdu.isEmpty())
        return {};
    if (address == 0) {
        // Broadcast: every module carries out a write, none answers.
        const uint8_t fc = static_cast<uint8_t>(pdu[0]);
        if (fc == uint8_t(Function::WriteSingleCoil) ||
            fc == uint8_t(Function::WriteSingleRegister) ||
            fc == uint8_t(Function::WriteMultipleRegisters)) {
            for (Module* m : modules())
                Executor{*m, overTcp}.run(pdu);
        }
        return {};
    }
    Module* m = module(address);
    if (!m)
        return {};
    return Executor{*m, overTcp}.run(pdu);
}

} // namespace qimsim
