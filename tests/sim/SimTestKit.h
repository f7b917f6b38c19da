#pragma once
// Helpers of the simulator's tests: point the real link at an in-process
// bus over TCP or over its pty, and ask through the link.

#include "General.h"
#include "Link.h"
#include "Requests.h"
#include "SimBus.h"
#include "TestSupport.h"

#include <QTest>

namespace simkit {

// Rows "tcp" and "rtu" for a data-driven test.
inline void AddTransports() {
    QTest::addColumn<bool>("tcp");
    QTest::newRow("tcp") << true;
    QTest::newRow("rtu") << false;
}

// A fresh link aimed at the bus: TCP on its port, or RTU on COM2 where the
// bus published its pty. Short timeouts keep the silent cases quick.
inline void UseTransport(const qimsim::Bus& bus, bool tcp, int timeoutMs = 500) {
    qim::Link::instance().reset();
    qim::AssignLinkDefaults();
    qim::General::TransactionId = 0;
    if (tcp) {
        qim::General::CommMode = 1;
        qim::General::IPAddress = QStringLiteral("127.0.0.1");
        qim::General::ServerPort = bus.tcpPort();
        qim::General::TCPTimeout = static_cast<int16_t>(timeoutMs);
    } else {
        qim::General::CommMode = 0;
        qim::General::ComPortIndex = 1;
        qim::General::SerialTimeout = static_cast<int16_t>(timeoutMs);
    }
}

inline qim::Reply ReadHolding(uint8_t slave, int start, int count) {
    return qimtest::Await([=](qim::Requester r) {
               qim::ByMode::ReadHoldingRegisters(slave, static_cast<int16_t>(start),
                                                 static_cast<int16_t>(count), r);
           })
        .reply.value_or(qim::Reply{});
}

inline qim::Reply ReadInputs(uint8_t slave, int start, int count) {
    return qimtest::Await([=](qim::Requester r) {
               qim::ByMode::ReadInputRegisters(slave, static_cast<int16_t>(start),
                                               static_cast<int16_t>(count), r);
           })
        .reply.value_or(qim::Reply{});
}

inline int WriteRegister(uint8_t slave, int address, int value) {
    return qimtest::Await([=](qim::Requester r) {
               qim::ByMode::WriteSingleRegister(slave, static_cast<int16_t>(address), value, r);
           })
        .reply.value_or(qim::Reply{})
        .status;
}

// values is indexed by register address, as the program's register images are.
inline int WriteRegisters(uint8_t slave, int start, int count, std::vector<int32_t> values) {
    return qimtest::Await([=](qim::Requester r) {
               qim::ByMode::WriteMultipleRegisters(slave, static_cast<int16_t>(start),
                                                   static_cast<int16_t>(count), values, r);
           })
        .reply.value_or(qim::Reply{})
        .status;
}

inline int WriteCoil(uint8_t slave, int address, int value) {
    return qimtest::Await([=](qim::Requester r) {
               qim::ByMode::WriteSingleCoil(slave, static_cast<int16_t>(address), value, r);
           })
        .reply.value_or(qim::Reply{})
        .status;
}

inline qim::Reply Identify(uint8_t slave) {
    return qimtest::Await([=](qim::Requester r) { qim::ByMode::ReportSlaveId(slave, r); })
        .reply.value_or(qim::Reply{});
}

} // namespace simkit
