#pragma once
// Helpers for the temperature panel's tests: finding a window or control by
// its name, and a fresh start of the temperature module's program-wide data.

#include "DeviceTable.h"
#include "MessagePresenter.h"
#include "TempRegisters.h"
#include "frmQIM_P750.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QWidget>

namespace qimtest {

template <class T = QWidget> T* Find(const QString& name) {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == name)
            if (auto* t = qobject_cast<T*>(top))
                return t;
        if (auto* t = top->findChild<T*>(name))
            return t;
    }
    return nullptr;
}

// What a label, text box or list shows.
inline QString Text(const QString& name) {
    if (auto* l = Find<QLabel>(name))
        return l->text();
    if (auto* e = Find<QLineEdit>(name))
        return e->text();
    if (auto* c = Find<QComboBox>(name))
        return c->currentText();
    return QStringLiteral("<no %1>").arg(name);
}

// Clicks a button or check box that must be there and enabled.
inline void Press(const QString& name) {
    auto* b = Find<QAbstractButton>(name);
    QVERIFY2(b && b->isEnabled(), qPrintable(name));
    b->click();
}

// Everything the temperature windows share back at zero, and one
// temperature module at slave address `address` selected in the device table.
inline void FreshTemperatureStart(uint8_t address, uint8_t code = 30) {
    qim::TempInputRegs.fill(0);
    qim::TempOutputRegs.fill(0);
    qim::TempConfigReg = 0;
    qim::TempControlReg = 0;
    qim::SelectedLoop = 0;
    qim::ClearDeviceTable();
    qim::DeviceTable[0].DeviceAddress = address;
    qim::DeviceTable[0].DeviceCode = code;
    qim::SelectedAddress = 0;
}

// Closes the panel (and the dialogs it owns) and waits until it is gone.
inline bool ClosePanel() {
    qim::MessagePresenter::instance().dismissAll();
    qim::MessagePresenter::instance().clearHistory();
    if (auto* p = qim::frmQIM_P750::instance())
        p->close();
    return QTest::qWaitFor([] { return !qim::frmQIM_P750::instance(); }, 5000);
}

} // namespace qimtest
