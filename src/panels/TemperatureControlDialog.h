#pragma once
// The temperature module's control register (the four loops' modes) in a
// small modeless dialog, deleted when closed. Every change repacks the
// registers' control word at once; nothing is sent until "Write To Output
// Registers".

#include "TemperatureModule.h"

#include <QDialog>

class QComboBox;
class QLabel;

namespace qim {

class TemperatureControlDialog : public QDialog {
    Q_OBJECT
public:
    // Loads the lists from registers.control.
    TemperatureControlDialog(TemperatureRegisters& registers, QWidget* parent);

    // Shows the registers afresh (a configuration file was opened).
    void load();

private:
    void computeControlRegister();

    TemperatureRegisters& m_regs;
    Temperature::LoopModes m_modes;
    QComboBox* m_loop[Temperature::Loops];
    QLabel* m_value;
};

} // namespace qim
