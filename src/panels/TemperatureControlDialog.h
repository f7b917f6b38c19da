#pragma once
// The temperature module's control register (the four loops' modes) in a
// small modeless dialog. Every change repacks the program-wide
// TempControlReg at once; nothing is sent until "Write To Output Registers".

#include "TempRegisters.h"

#include <QDialog>
#include <QPointer>

class QComboBox;
class QLabel;

namespace qim {

class frmQIM_P750_Control : public QDialog {
    Q_OBJECT
public:
    // Opens the one instance (loading it), or only brings it forward.
    static frmQIM_P750_Control* open(QWidget* parent);
    static frmQIM_P750_Control* instance() { return s_instance; }

private:
    explicit frmQIM_P750_Control(QWidget* parent);
    void load();
    void computeControlRegister();

    TempLoopModes LoopMode{};
    QComboBox* m_loop[TempLoops];
    QLabel* m_value;
    static inline QPointer<frmQIM_P750_Control> s_instance;
};

} // namespace qim
