#pragma once
// The temperature module's configuration register (averaging, thermocouple
// type, sampling time, alarm enables) in a small modeless dialog, deleted
// when closed. Every change repacks the registers' config word at once;
// nothing is sent until the panel's "Write To Output Registers".

#include "TemperatureModule.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;

namespace qim {

class TemperatureConfigDialog : public QDialog {
    Q_OBJECT
public:
    // Loads the lists from registers.config.
    TemperatureConfigDialog(TemperatureRegisters& registers, QWidget* parent);

    // Shows the registers afresh (a configuration file was opened).
    void load();

private:
    void computeConfigRegister();

    TemperatureRegisters& m_regs;

    Temperature::ConfigFields m_fields;
    QComboBox* m_average;
    QComboBox* m_type;
    QComboBox* m_sampling;
    QCheckBox* m_alarm[4];
    QLabel* m_value;
};

} // namespace qim
