#pragma once
// The temperature module's configuration register (averaging, thermocouple
// type, sampling time, alarm enables) in a small modeless dialog. Every
// change repacks the program-wide TempConfigReg at once; nothing is sent
// until the panel's "Write To Output Registers".

#include "TempRegisters.h"

#include <QDialog>
#include <QPointer>

class QCheckBox;
class QComboBox;
class QLabel;

namespace qim {

class frmQIM_P750_Config : public QDialog {
    Q_OBJECT
public:
    // Opens the one instance (loading it), or only brings it forward.
    static frmQIM_P750_Config* open(QWidget* parent);
    static frmQIM_P750_Config* instance() { return s_instance; }

private:
    explicit frmQIM_P750_Config(QWidget* parent);
    void load();
    void computeConfigRegister();

    TempConfigFields m_fields;
    QComboBox* m_average;
    QComboBox* m_type;
    QComboBox* m_sampling;
    QCheckBox* m_alarm[4];
    QLabel* m_value;
    static inline QPointer<frmQIM_P750_Config> s_instance;
};

} // namespace qim
