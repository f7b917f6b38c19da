#pragma once
// One way to the bus under the link's queue. The link hands a transport one
// request at a time and judges what comes back; the transport knows how to
// open its way, send, and close, and nothing of frames or queues.
//
//   prepare(request)        the request the next open() is for
//   open(settings, test) -> ready()               the way is open: send now
//                        -> failed(message)       252; message empty = say nothing
//   send(request)        -> bytesArrived(bytes)*  until the link has its verdict
//                        -> ended()               no more bytes can come (peer closed)
//                        -> failed(message)       the way broke while waiting
//   finish(keep)            the link has its verdict; keep = the way is still in step
//
// ready() may come at once, from inside open().

#include "LinkSettings.h"

#include <QByteArray>
#include <QObject>

namespace qim {

class Transport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Before open(): a transport may hold ready() back until its way is fit
    // for this request (empty for the connection test).
    virtual void prepare(const QByteArray& request) { Q_UNUSED(request); }
    // test: the connection dialog's test, which proves a fresh opening.
    virtual void open(const LinkSettings& settings, bool test) = 0;
    virtual void send(const QByteArray& request) = 0;
    // Whatever arrived and was not yet handed on (the final look at the reply).
    virtual QByteArray takeAll() = 0;
    virtual void finish(bool keep) = 0;
    // Closes the way now (the program's end).
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // The request went out on a way kept from an earlier transaction.
    virtual bool reused() const { return false; }
    virtual int replyTimeoutMs(const LinkSettings& settings) const = 0;

Q_SIGNALS:
    void ready();
    void failed(const QString& message);
    void bytesArrived(const QByteArray& bytes);
    void ended();
};

} // namespace qim
