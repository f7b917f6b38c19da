#pragma once
// The temperature module's three register dialogs. They edit the registers
// the main window keeps for the run, so they live until their own OK or
// close, not with the panel that opened them: closing the panel keeps an
// open Control Loop dialog and what was typed in it. One of each at a time,
// whichever panel asks.

#include <QPointer>

namespace qim {

class ControlLoopDialog;
class MessagePresenter;
class TemperatureConfigDialog;
class TemperatureControlDialog;
struct TemperatureRegisters;

class TemperatureDialogs {
public:
    TemperatureDialogs(TemperatureRegisters& registers, MessagePresenter& presenter);
    ~TemperatureDialogs();
    TemperatureDialogs(const TemperatureDialogs&) = delete;
    TemperatureDialogs& operator=(const TemperatureDialogs&) = delete;

    TemperatureRegisters& registers() const { return m_regs; }
    // Open a dialog, or bring it forward when it is open already.
    void openConfig();
    void openControl();
    // The loop dialog for loop n (1..4), the loop selected from now on.
    void openLoop(int n);
    // The registers changed under the open dialogs (a configuration file was
    // opened): they show them afresh.
    void reload();

private:
    TemperatureRegisters& m_regs;
    MessagePresenter& m_presenter;
    QPointer<TemperatureConfigDialog> m_config;
    QPointer<TemperatureControlDialog> m_control;
    QPointer<ControlLoopDialog> m_loop;
};

} // namespace qim
