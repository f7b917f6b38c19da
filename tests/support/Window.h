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
#include <source_location>

namespace qimtest {

class Window {
    using Where = std::source_location;

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

    // A missing control fails the check with its name; the case goes on
    // with a stand-in that does nothing, so nothing crashes before QtTest
    // moves on to the next case.
    template <class T = QWidget> T* get(const QString& name, Where at = Where::current()) const {
        if (T* c = m_w ? m_w->findChild<T*>(name) : nullptr)
            return c;
        fail(QStringLiteral("no control %1 in %2").arg(name, m_w ? m_name : m_name + " (not open)"),
             at);
        return standIn<T>();
    }
    void type(const QString& box, const QString& text, Where at = Where::current()) const {
        auto* e = get<QLineEdit>(box, at);
        e->selectAll();
        e->insert(text);
    }
    void pick(const QString& list, int index, Where at = Where::current()) const {
        get<QComboBox>(list, at)->setCurrentIndex(index);
    }
    // A button, or a menu command; a disabled button fails the check.
    void click(const QString& name, Where at = Where::current()) const {
        if (auto* action = m_w ? m_w->findChild<QAction*>(name) : nullptr)
            return action->trigger();
        if (auto* b = get<QAbstractButton>(name, at); b->isEnabled())
            b->click();
        else
            fail(name + QStringLiteral(" is disabled"), at);
    }
    bool enabled(const QString& name, Where at = Where::current()) const {
        return get(name, at)->isEnabled();
    }
    QString text(const QString& name, Where at = Where::current()) const {
        QWidget* c = get(name, at);
        if (auto* l = qobject_cast<QLabel*>(c))
            return l->text();
        if (auto* e = qobject_cast<QLineEdit*>(c))
            return e->text();
        return {};
    }
    QString status(int panel) const { return get<qim::StatusPanels>({})->text(panel); }
    void focus(const QString& name, Where at = Where::current()) const {
        get(name, at)->setFocus();
    }
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
    static void fail(const QString& message, const Where& at) {
        QTest::qFail(qPrintable(message), at.file_name(), static_cast<int>(at.line()));
    }
    // A hidden control of the kind asked for, owned by the window (or by
    // nobody when no window is open: a failed case may leak it).
    template <class T> T* standIn() const {
        QWidget* parent = m_w;
        if constexpr (std::is_abstract_v<T>)
            return new QPushButton(parent);
        else if constexpr (std::is_constructible_v<T, QWidget*>)
            return new T(parent);
        else if constexpr (std::is_constructible_v<T, QString, QWidget*>)
            return new T(QString(), parent);
        else
            return new T(typename T::Kind{}, parent);
    }

    QPointer<QWidget> m_w;
    QString m_name;
};

} // namespace qimtest
