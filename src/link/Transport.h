#pragma once
// One way to the bus under the link's queue. The link hands a transport one
// request at a time and keeps the time; the transport opens its way, puts
// its link's framing around the request, collects the reply and judges it.
//
//   open(settings, request) -> ready()               the way is open: send now
//                           -> failed(message)       252; message empty = say nothing
//   send(request, frame)    -> replied()             the reply is whole: finish now
//                           -> ended()               no more bytes can come (peer closed)
//                           -> failed(message)       the way broke while waiting
//   finish(final) -> Reply     the verdict; the way is kept only while in step
//
// ready() may come at once, from inside open().

#include "Frames.h"
#include "LinkSettings.h"
#include "Reply.h"

#include <QByteArray>
#include <QObject>

namespace qim {

class Transport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The link's name as the traffic window shows it.
    virtual QString name() const = 0;
    // The request as it goes on this link.
    virtual QByteArray frame(const Request& request) const = 0;
    // request null: the connection dialog's test, which proves a fresh opening.
    // A transport may hold ready() back until its way is fit for the request.
    virtual void open(const LinkSettings& settings, const Request* request) = 0;
    // Sends frame (frame(request)) and collects the request's reply.
    virtual void send(const Request& request, const QByteArray& frame) = 0;
    // The wait has ended: at replied(), or final (the timeout, or ended() with
    // no more to come). Takes what is still waiting, judges the reply, and
    // keeps the way only if the reply ended exactly where it should.
    virtual Reply finish(bool final) = 0;
    // The reply's bytes as they arrived, framing included (the traffic window).
    virtual const QByteArray& received() const = 0;
    // Closes the way now (the program's end).
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // The request went out on a way kept from an earlier transaction.
    virtual bool reused() const { return false; }
    virtual int replyTimeoutMs(const LinkSettings& settings) const = 0;

Q_SIGNALS:
    void ready();
    void failed(const QString& message);
    void replied();
    void ended();
};

} // namespace qim
