#pragma once
// The one way a window shows a message: a queue of OK-only message boxes
// (title "QIMTool", no icon, application-modal, opened with open()), shown one
// at a time in the order raised. main() makes the one presenter and ties the
// link's messages to it, so they always precede a caller's follow-up message.

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <QMessageBox>

namespace qim {

class MessagePresenter : public QObject {
    Q_OBJECT
public:
    explicit MessagePresenter(QObject* parent = nullptr);

    void show(const QString& text);
    // The box on screen now, if any (tests press its OK button).
    QMessageBox* current() const { return m_box; }
    int queued() const { return static_cast<int>(m_queue.size()); }
    // Every text shown or queued this run, in order.
    const QStringList& history() const { return m_history; }
    void clearHistory() { m_history.clear(); }
    // Closes the box on screen and forgets the queue (program end, tests).
    void dismissAll();

Q_SIGNALS:
    void shown(const QString& text);

private:
    void next();
    QStringList m_queue;
    QStringList m_history;
    QPointer<QMessageBox> m_box;
};

} // namespace qim
