#pragma once
// The one driver: works a window as a user does, by its objectNames: type,
// pick, click, press a key, read a label or status panel.

#include "StatusPanels.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTest>

namespace qimtest {

class Window {
public:
    // The window on screen with this objectName, if any.
    explicit Window(const QString& name) {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == name && w->isVisible())
                m_w = w;
    }
    explicit Window(QWidget* w) : m_w(w) {}
    bool open() const { return m_w && m_w->isVisible(); }
    QWidget* widget() const { return m_w; }

    // A missing control ends the test program.
    template <class T = QWidget> T* get(const QString& name) const {
        T* c = m_w ? m_w->findChild<T*>(name) : nullptr;
        if (!c)
            qFatal("no control %s", qPrintable(name));
        return c;
    }
    void type(const QString& box, const QString& text) const {
        auto* e = get<QLineEdit>(box);
        e->selectAll();
        e->insert(text);
    }
    void pick(const QString& list, int index) const {
        get<QComboBox>(list)->setCurrentIndex(index);
    }
    // A button, or a menu command; clicking a disabled button ends the test program.
    void click(const QString& name) const {
        if (auto* action = m_w ? m_w->findChild<QAction*>(name) : nullptr)
            return action->trigger();
        if (!enabled(name))
            qFatal("%s is disabled", qPrintable(name));
        get<QAbstractButton>(name)->click();
    }
    bool enabled(const QString& name) const { return get(name)->isEnabled(); }
    QString text(const QString& name) const {
        if (auto* l = qobject_cast<QLabel*>(get(name)))
            return l->text();
        return get<QLineEdit>(name)->text();
    }
    QString status(int panel) const { return get<qim::StatusPanels>({})->text(panel); }
    void focus(const QString& name) const { get(name)->setFocus(); }
    void press(Qt::Key key) const { QTest::keyClick(QApplication::focusWidget(), key); }
    static QString focused() {
        const QWidget* w = QApplication::focusWidget();
        return w ? w->objectName() : QString();
    }
    void close() const { m_w->close(); }

private:
    QPointer<QWidget> m_w;
};

} // namespace qimtest
