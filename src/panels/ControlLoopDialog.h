#pragma once
// The five holding registers of one control loop (set point, loop sampling
// time scaler, band/gain, alarm high, alarm low), validated and stored into
// the registers' output image on OK. Nothing is sent to the module.
//
// The dialog edits one loop, fixed when it loads: OK stores into the loop its
// caption names. Asking for another loop while it is open reloads it for that
// loop (discarding what was typed), so one loop's values can never land in
// another loop's block.

#include "TemperatureModule.h"

#include <QDialog>

class QLabel;
class QLineEdit;

namespace qim {

class MessagePresenter;

class ControlLoopDialog : public QDialog {
    Q_OBJECT
public:
    // Deleted when closed; shows nothing until showLoop(). A refused entry
    // is told through presenter.
    ControlLoopDialog(TemperatureRegisters& registers, MessagePresenter& presenter,
                      QWidget* parent);

    // Loads loop n (1..4) unless it shows that loop already (what was typed
    // then stays); nothing for n outside 1..4.
    void showLoop(int n);
    // Shows its loop's block afresh, what was typed discarded (a
    // configuration file was opened).
    void reload() { load(m_loop); }
    int loop() const { return m_loop; }

private:
    void load(int loop);
    void ok();

    QLineEdit* m_boxes[Temperature::LoopRegisters];
    TemperatureRegisters& m_regs;
    MessagePresenter& m_presenter;
    int m_loop = 0; // none loaded yet
    QLabel* m_caption;
};

} // namespace qim
