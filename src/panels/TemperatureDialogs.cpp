#include "TemperatureDialogs.h"

#include "BringForward.h"
#include "ControlLoopDialog.h"
#include "TemperatureConfigDialog.h"
#include "TemperatureControlDialog.h"

namespace qim {

TemperatureDialogs::TemperatureDialogs(TemperatureRegisters& registers, MessagePresenter& presenter)
    : m_regs(registers), m_presenter(presenter) {}

TemperatureDialogs::~TemperatureDialogs() {
    // Windows of their own, without a parent: they use the registers and go with them.
    delete m_config.data();
    delete m_control.data();
    delete m_loop.data();
}

void TemperatureDialogs::openConfig() {
    if (!m_config)
        m_config = new TemperatureConfigDialog(m_regs, nullptr);
    bringForward(m_config);
}

void TemperatureDialogs::openControl() {
    if (!m_control)
        m_control = new TemperatureControlDialog(m_regs, nullptr);
    bringForward(m_control);
}

void TemperatureDialogs::reload() {
    if (m_config)
        m_config->load();
    if (m_control)
        m_control->load();
    if (m_loop && m_loop->loop() > 0)
        m_loop->reload();
}

void TemperatureDialogs::openLoop(int n) {
    m_regs.selectedLoop = static_cast<uint8_t>(n);
    if (!m_loop)
        m_loop = new ControlLoopDialog(m_regs, m_presenter, nullptr);
    m_loop->showLoop(m_regs.selectedLoop);
    bringForward(m_loop);
}

} // namespace qim
