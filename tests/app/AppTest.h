#pragma once
// Small helpers for the window tests: controls by objectName, message boxes,
// identification replies.

#include "General.h"
#include "MessagePresenter.h"
#include "TestSupport.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>

namespace apptest {

// The control named name under parent; a missing control ends the test program.
template <class T> T* child(const QObject* parent, const char* name) {
    T* w = parent ? parent->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    if (!w)
        qFatal("no control %s", name);
    return w;
}

inline void type(const QObject* parent, const char* name, const QString& text) {
    child<QLineEdit>(parent, name)->setText(text);
}

inline void click(const QObject* parent, const char* name) {
    QAbstractButton* b = child<QAbstractButton>(parent, name);
    if (!b->isEnabled())
        qFatal("%s is disabled", name);
    b->click();
}

inline QStringList messages() {
    return qim::MessagePresenter::instance().history();
}

// Presses OK on every message box, the way a user works through the queue.
inline void acknowledgeAll() {
    auto& mp = qim::MessagePresenter::instance();
    for (int i = 0; i < 20 && mp.current(); ++i) {
        mp.current()->button(QMessageBox::Ok)->click();
        QCoreApplication::processEvents();
    }
}

inline void resetMessages() {
    qim::MessagePresenter::instance().dismissAll();
    qim::MessagePresenter::instance().clearHistory();
}

// The 18 identification bytes of a module.
inline QByteArray identification(uint8_t code, uint8_t fwMajor = 1, uint8_t fwMinor = 0,
                                 char hw = 'A', uint8_t mode = 0, uint8_t baud = 0, uint8_t in = 8,
                                 uint8_t out = 8, uint8_t di = 8, uint8_t dout = 8) {
    QByteArray b(18, 0);
    b[0] = static_cast<char>(code);
    b[3] = static_cast<char>(fwMajor);
    b[4] = static_cast<char>(fwMinor);
    b[5] = hw;
    b[6] = static_cast<char>(mode);
    b[7] = static_cast<char>(baud);
    b[9] = static_cast<char>(in);
    b[10] = static_cast<char>(out);
    b[11] = static_cast<char>(di);
    b[12] = static_cast<char>(dout);
    return b;
}

// A module's whole answer to Report Slave ID on each link.
inline QByteArray rtuIdReply(uint8_t address, const QByteArray& id) {
    QByteArray body;
    body += static_cast<char>(address);
    body += char(17);
    body += static_cast<char>(id.size());
    body += id;
    return qimtest::WithCrc(body);
}
inline QByteArray tcpIdReply(const QByteArray& request, const QByteArray& id) {
    QByteArray r = request.left(4);
    const int len = 3 + static_cast<int>(id.size());
    r += static_cast<char>(len >> 8);
    r += static_cast<char>(len & 0xFF);
    r += request.mid(6, 1);
    r += char(17);
    r += static_cast<char>(id.size());
    r += id;
    return r;
}

} // namespace apptest
