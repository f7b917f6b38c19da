#include "ModuleRequest.h"

#include "Link.h"

#include <memory>
#include <vector>

namespace qim {

QString ModuleRequest::what() const {
    const bool many = count > 1;
    QString table = kind == Kind::WriteCoil   ? QStringLiteral("coil")
                    : kind == Kind::ReadInput ? QStringLiteral("input register")
                                              : QStringLiteral("holding register");
    if (many)
        table += QLatin1Char('s');
    const QString where =
        many ? QStringLiteral("%1 %2 to %3").arg(table).arg(start).arg(start + count - 1)
             : QStringLiteral("%1 %2").arg(table).arg(start);
    return (isRead() ? QStringLiteral("read of ") : QStringLiteral("write of ")) + where;
}

void ModuleRequest::send(Link& link, uint8_t unit, Requester who) const {
    switch (kind) {
    case Kind::ReadHolding:
        link.readHoldingRegisters(unit, start, count, std::move(who));
        return;
    case Kind::ReadInput:
        link.readInputRegisters(unit, start, count, std::move(who));
        return;
    case Kind::WriteCoil:
        link.writeSingleCoil(unit, start, values[0], std::move(who));
        return;
    case Kind::WriteRegister:
        link.writeSingleRegister(unit, start, values[0], std::move(who));
        return;
    case Kind::WriteRegisters: {
        // The link takes the values indexed by register address.
        std::vector<int32_t> image(static_cast<size_t>(start + count));
        std::copy_n(values.begin(), count, image.begin() + start);
        link.writeMultipleRegisters(unit, start, count, image, std::move(who));
        return;
    }
    }
}

void ModuleRequest::sendAll(Link& link, uint8_t unit, std::span<const ModuleRequest> writes,
                            QObject* context, std::function<void(bool ok)> done) {
    auto failed = std::make_shared<bool>(false);
    for (size_t i = 0; i < writes.size(); ++i) {
        const bool last = i + 1 == writes.size();
        writes[i].send(link, unit, {context, [failed, last, done](const Reply& reply) {
                                        *failed = *failed || !reply.ok();
                                        if (last && done)
                                            done(!*failed);
                                    }});
    }
}

} // namespace qim
