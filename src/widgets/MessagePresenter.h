#pragma once
// The one way a window shows a message: a queue of OK-only message boxes
// (title "QIMTool", no icon, application-modal, opened with open()), shown one
// at a time in the order raised. main() makes the one presenter and ties the
// link's messages to it, so they always precede a caller's follow-up message.

#include <QObject>
#include <QPointer>
#include <QStringList>

class QMessageBox;

namespace qim {

class MessagePresenter : public QObject {
    Q_OBJECT
public:
    explicit MessagePresenter(QObject* parent = nullptr);

    void show(const QString& text);
    // Closes the box on screen and forgets the queue (the program's end).
    void dismissAll();

private:
    void next();
    QStringList m_queue;
    QPointer<QMessageBox> m_box;
};

} // namespace qim
