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
#include <QPushButton>
#include <QTest>

namespace qimtest {

class Window {
public:
    // The window on screen with this objectName, if any.
    explicit Window(const QString& name) : m_name(name) {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == name && w->isVisible())
                m_w = w;
    }
    explicit Window(QWidget* w) : m_w(w), m_name(w ? w->objectName() : QString()) {}
    bool open() const { return m_w && m_w->isVisible(); }
    QWidget* widget() const { return m_w; }

    // A missing control fails the check with its name; the case goes on with
    // a hidden stand-in (owned by the window, if one is open), so nothing
    // crashes before QtTest moves on to the next case.
    template <class T = QWidget> T* get(const QString& name) const {
        if (T* c = m_w ? m_w->findChild<T*>(name) : nullptr)
            return c;
        fail(QStringLiteral("no control %1 in %2").arg(name, m_name + (m_w ? "" : " (not open)")));
        if constexpr (std::is_abstract_v<T>)
            return new QPushButton(m_w);
        else if constexpr (std::is_constructible_v<T, QWidget*>)
            return new T(m_w);
        else
            return new T({}, m_w); // a status bar, a picture
    }
    void type(const QString& box, const QString& text) const {
        auto* e = get<QLineEdit>(box);
        e->selectAll();
        e->insert(text);
    }
    void pick(const QString& list, int index) const {
        get<QComboBox>(list)->setCurrentIndex(index);
    }
    // A button, or a menu command; a disabled button fails the check.
    void click(const QString& name) const {
        if (auto* action = m_w ? m_w->findChild<QAction*>(name) : nullptr)
            return action->trigger();
        if (auto* b = get<QAbstractButton>(name); b->isEnabled())
            b->click();
        else
            fail(name + QStringLiteral(" is disabled"));
    }
    bool enabled(const QString& name) const { return get(name)->isEnabled(); }
    QString text(const QString& name) const {
        QWidget* c = get(name);
        if (auto* e = qobject_cast<QLineEdit*>(c))
            return e->text();
        auto* l = qobject_cast<QLabel*>(c);
        return l ? l->text() : QString();
    }
    QString status(int panel) const { return get<qim::StatusPanels>({})->text(panel); }
    void focus(const QString& name) const { get(name)->setFocus(); }
    void press(Qt::Key key) const { QTest::keyClick(QApplication::focusWidget(), key); }
    static QString focused() {
        const QWidget* w = QApplication::focusWidget();
        return w ? w->objectName() : QString();
    }
    void close() const {
        if (m_w)
            m_w->close();
    }

private:
    static void fail(const QString& message) {
        QTest::qFail(qPrintable(message), __FILE__, __LINE__);
    }

    QPointer<QWidget> m_w;
    QString m_name;
};

} // namespace qimtest
