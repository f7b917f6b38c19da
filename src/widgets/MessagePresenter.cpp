#include "MessagePresenter.h"

#include "Version.h"

#include <QApplication>
#include <QMessageBox>

namespace qim {

MessagePresenter::MessagePresenter(QObject* parent) : QObject(parent) {}

void MessagePresenter::show(const QString& text) {
    m_queue << text;
    if (!m_box)
        next();
}

void MessagePresenter::next() {
    if (m_queue.isEmpty())
        return;
    const QString text = m_queue.takeFirst();
    auto* box = new QMessageBox(QMessageBox::NoIcon, QString::fromLatin1(ProgramTitle), text,
                                QMessageBox::Ok, QApplication::activeWindow());
    box->setObjectName(QStringLiteral("MessageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    m_box = box;
    connect(box, &QMessageBox::finished, this, [this] {
        m_box = nullptr;
        next();
    });
    box->open();
}

void MessagePresenter::dismissAll() {
    m_queue.clear();
    if (m_box) {
        QMessageBox* box = m_box;
        m_box = nullptr;
        box->disconnect(this);
        box->close();
    }
}

} // namespace qim
