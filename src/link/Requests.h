#pragma once
// The Modbus requests of both links. Each builds its frame into TxBuffer and
// queues it; the requester's callback gets the reply. Callers pick the serial
// procedure when CommMode is 0 and the TCP twin otherwise, or let ByMode pick.

#include "Reply.h"

#include <span>

namespace qim {

void ReadHoldingRegisters(uint8_t slave, int16_t start, int16_t count, Requester who);
void ReadInputRegisters(uint8_t slave, int16_t start, int16_t count, Requester who);
void ReportSlaveId(uint8_t slave, Requester who);
void WriteSingleCoil(uint8_t slave, int16_t address, int32_t value, Requester who);
void WriteSingleRegister(uint8_t slave, int16_t address, int32_t value, Requester who);
void WriteMultipleRegisters(uint8_t slave, int16_t start, int16_t count,
                            std::span<const int32_t> values, Requester who);

void TCPReadHoldingRegisters(uint8_t slave, int16_t start, int16_t count, Requester who);
void TCPReadInputRegisters(uint8_t slave, int16_t start, int16_t count, Requester who);
void TCPReportSlaveId(uint8_t slave, Requester who);
void TCPWriteSingleCoil(uint8_t slave, int16_t address, int32_t value, Requester who);
void TCPWriteSingleRegister(uint8_t slave, int16_t address, int32_t value, Requester who);
void TCPWriteMultipleRegisters(uint8_t slave, int16_t start, int16_t count,
                               std::span<const int32_t> values, Requester who);

// The connection tests. Afterwards Connected tells the outcome; the
// callback's status is 255 when the link opened, 252 otherwise.
void OpenSerialPort(Requester who);
void TCPConnect(Requester who);

// The same requests, over the link CommMode names at the time of the call.
namespace ByMode {
void ReadHoldingRegisters(uint8_t slave, int16_t start, int16_t count, Requester who);
void ReadInputRegisters(uint8_t slave, int16_t start, int16_t count, Requester who);
void ReportSlaveId(uint8_t slave, Requester who);
void WriteSingleCoil(uint8_t slave, int16_t address, int32_t value, Requester who);
void WriteSingleRegister(uint8_t slave, int16_t address, int32_t value, Requester who);
void WriteMultipleRegisters(uint8_t slave, int16_t start, int16_t count,
                            std::span<const int32_t> values, Requester who);
} // namespace ByMode

} // namespace qim
