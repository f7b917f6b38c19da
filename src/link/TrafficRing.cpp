#include "TrafficRing.h"

#include <algorithm>

namespace qim {

void TrafficRing::append(const TransactionRecord& r) {
    m_slots[m_next % Capacity] = r;
    ++m_next;
}

QList<TransactionRecord> TrafficRing::since(quint64 from) const {
    QList<TransactionRecord> out;
    const quint64 first = std::max(from, m_next > Capacity ? m_next - Capacity : 0);
    for (quint64 i = first; i < m_next; ++i)
        out << m_slots[i % Capacity];
    return out;
}

} // namespace qim
