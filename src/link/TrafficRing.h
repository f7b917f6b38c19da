#pragma once
// What the link keeps of the transactions it ran, for whoever watches the wire.

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>
#include <cstdint>
#include <vector>

namespace qim {

// One finished transaction.
struct TransactionRecord {
    qint64 startedMs = 0; // since the epoch
    qint64 durationUs = 0;
    QString link; // the transport's name: "RTU", "TCP"
    uint8_t slave = 0;
    uint8_t function = 0;
    QByteArray request; // the frame as sent
    QByteArray reply;   // exactly what arrived
    int16_t status = 0;
    bool noReply = false; // 253 with not a single byte received
};

// The newest transactions in a fixed ring: cheap enough to run always, so a
// traffic window opened after a failure still shows it.
class TrafficRing {
public:
    static constexpr int Capacity = 512;
    void append(const TransactionRecord& r);
    // Sequence number of the next record; records are numbered from 0.
    quint64 next() const { return m_next; }
    // The records numbered from `from` on that are still in the ring, oldest first.
    QList<TransactionRecord> since(quint64 from) const;

private:
    std::vector<TransactionRecord> m_slots = std::vector<TransactionRecord>(Capacity);
    quint64 m_next = 0;
};

} // namespace qim

Q_DECLARE_METATYPE(qim::TransactionRecord)
