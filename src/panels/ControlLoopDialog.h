#pragma once
// The five holding registers of one control loop (set point, loop sampling
// time scaler, band/gain, alarm high, alarm low), validated and stored into
// the program-wide image TempOutputRegs on OK. Nothing is sent to the module.
//
// The dialog edits one loop, fixed when it loads: OK stores into the loop its
// caption names. Asking for another loop while it is open reloads it for that
// loop (discarding what was typed), so one loop's values can never land in
// another loop's block.

#include "TempRegisters.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QLineEdit;

namespace qim {

class frmQIM_P750_ControlLoop : public QDialog {
    Q_OBJECT
public:
    // Opens the one instance for SelectedLoop, or brings it forward; an open
    // dialog showing another loop reloads for SelectedLoop.
    static frmQIM_P750_ControlLoop* open(QWidget* parent);
    static frmQIM_P750_ControlLoop* instance() { return s_instance; }

    int loop() const { return m_loop; }

private:
    explicit frmQIM_P750_ControlLoop(QWidget* parent);
    void load(int loop);
    void ok();

    struct Row {
        QLineEdit* box;
        double high;
        const char* message;
    };
    static constexpr int RowCount = 5;
    Row m_rows[RowCount];
    int m_loop = 1;
    QLabel* m_caption;
    static inline QPointer<frmQIM_P750_ControlLoop> s_instance;
};

} // namespace qim
