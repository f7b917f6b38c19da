#include "Requests.h"

#include "Link.h"

namespace qim {

namespace {
void serial(Frame f, Requester who) {
    General::TxBuffer = f.bytes;
    Link::instance().submit(Link::Kind::Serial, std::move(f), std::move(who));
}
void tcp(Frame f, Requester who) {
    General::TxBuffer = f.bytes;
    Link::instance().submit(Link::Kind::Tcp, std::move(f), std::move(who));
}
bool useTcp() {
    return General::CommMode != 0;
}
} // namespace

void ReadHoldingRegisters(uint8_t slave, int16_t start, int16_t count, Requester who) {
    serial(Rtu::ReadHoldingRegisters(slave, start, count), std::move(who));
}
void ReadInputRegisters(uint8_t slave, int16_t start, int16_t count, Requester who) {
    serial(Rtu::ReadInputRegisters(slave, start, count), std::move(who));
}
void ReportSlaveId(uint8_t slave, Requester who) {
    serial(Rtu::ReportSlaveId(slave), std::move(who));
}
void WriteSingleCoil(uint8_t slave, int16_t address, int32_t value, Requester who) {
    serial(Rtu::WriteSingleCoil(slave, address, value), std::move(who));
}
void WriteSingleRegister(uint8_t slave, int16_t address, int32_t value, Requester who) {
    serial(Rtu::WriteSingleRegister(slave, address, value), std::move(who));
}
void WriteMultipleRegisters(uint8_t slave, int16_t start, int16_t count,
                            std::span<const int32_t> values, Requester who) {
    serial(Rtu::WriteMultipleRegisters(slave, start, count, values), std::move(who));
}

void TCPReadHoldingRegisters(uint8_t slave, int16_t start, int16_t count, Requester who) {
    tcp(Tcp::ReadHoldingRegisters(General::TransactionId, slave, start, count), std::move(who));
}
void TCPReadInputRegisters(uint8_t slave, int16_t start, int16_t count, Requester who) {
    tcp(Tcp::ReadInputRegisters(General::TransactionId, slave, start, count), std::move(who));
}
void TCPReportSlaveId(uint8_t slave, Requester who) {
    tcp(Tcp::ReportSlaveId(General::TransactionId, slave), std::move(who));
}
void TCPWriteSingleCoil(uint8_t slave, int16_t address, int32_t value, Requester who) {
    tcp(Tcp::WriteSingleCoil(General::TransactionId, slave, address, value), std::move(who));
}
void TCPWriteSingleRegister(uint8_t slave, int16_t address, int32_t value, Requester who) {
    tcp(Tcp::WriteSingleRegister(General::TransactionId, slave, address, value), std::move(who));
}
void TCPWriteMultipleRegisters(uint8_t slave, int16_t start, int16_t count,
                               std::span<const int32_t> values, Requester who) {
    tcp(Tcp::WriteMultipleRegisters(General::TransactionId, slave, start, count, values),
        std::move(who));
}

void OpenSerialPort(Requester who) {
    Link::instance().submit(Link::Kind::OpenSerialPort, {}, std::move(who));
}
void TCPConnect(Requester who) {
    Link::instance().submit(Link::Kind::TcpConnect, {}, std::move(who));
}

namespace ByMode {
void ReadHoldingRegisters(uint8_t slave, int16_t start, int16_t count, Requester who) {
    useTcp() ? TCPReadHoldingRegisters(slave, start, count, std::move(who))
             : qim::ReadHoldingRegisters(slave, start, count, std::move(who));
}
void ReadInputRegisters(uint8_t slave, int16_t start, int16_t count, Requester who) {
    useTcp() ? TCPReadInputRegisters(slave, start, count, std::move(who))
             : qim::ReadInputRegisters(slave, start, count, std::move(who));
}
void ReportSlaveId(uint8_t slave, Requester who) {
    useTcp() ? TCPReportSlaveId(slave, std::move(who)) : qim::ReportSlaveId(slave, std::move(who));
}
void WriteSingleCoil(uint8_t slave, int16_t address, int32_t value, Requester who) {
    useTcp() ? TCPWriteSingleCoil(slave, address, value, std::move(who))
             : qim::WriteSingleCoil(slave, address, value, std::move(who));
}
void WriteSingleRegister(uint8_t slave, int16_t address, int32_t value, Requester who) {
    useTcp() ? TCPWriteSingleRegister(slave, address, value, std::move(who))
             : qim::WriteSingleRegister(slave, address, value, std::move(who));
}
void WriteMultipleRegisters(uint8_t slave, int16_t start, int16_t count,
                            std::span<const int32_t> values, Requester who) {
    useTcp() ? TCPWriteMultipleRegisters(slave, start, count, values, std::move(who))
             : qim::WriteMultipleRegisters(slave, start, count, values, std::move(who));
}
} // namespace ByMode

} // namespace qim
