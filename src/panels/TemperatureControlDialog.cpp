#include "TemperatureControlDialog.h"

#include "NumberEntry.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qim {

TemperatureControlDialog::TemperatureControlDialog(TemperatureRegisters& registers, QWidget* parent)
    : QDialog(parent), m_regs(registers) {
    setObjectName(QStringLiteral("frmQIM_P750_Control"));
    setWindowTitle(QStringLiteral("QIM_P750 Control Register"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* grid = new QGridLayout;
    for (int n = 0; n < Temperature::Loops; ++n) {
        m_loop[n] = new QComboBox(this);
        m_loop[n]->setObjectName(QStringLiteral("Combo_ControlLoop%1").arg(n + 1));
        m_loop[n]->addItems(itemTexts(Temperature::ModeItems));
        m_loop[n]->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        grid->addWidget(new QLabel(QStringLiteral("Control Loop %1").arg(n + 1), this), n, 0);
        grid->addWidget(m_loop[n], n, 1);
        // A position set from code counts as a change, like a user's.
        connect(m_loop[n], &QComboBox::currentIndexChanged, this, [this, n](int index) {
            if (index < 0)
                return;
            m_modes.mode[n] = static_cast<int16_t>(index);
            computeControlRegister();
        });
    }

    m_value = new QLabel(this);
    m_value->setObjectName(QStringLiteral("Label_ControlReg"));
    m_value->setFrameShape(QFrame::StyledPanel);
    m_value->setFrameShadow(QFrame::Sunken);
    m_value->setMinimumWidth(80);
    m_value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(new QLabel(QStringLiteral("Control Register"), this), Temperature::Loops, 0);
    grid->addWidget(m_value, Temperature::Loops, 1);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Cmd_OK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);

    auto* top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);
    load();
}

void TemperatureControlDialog::load() {
    // Every loop's mode first, so each list set below repacks the stored value unchanged.
    m_modes = Temperature::LoopModes::unpack(m_regs.image.control);
    const Temperature::LoopModes modes = m_modes;
    for (int n = 0; n < Temperature::Loops; ++n)
        m_loop[n]->setCurrentIndex(modes.mode[n]);
    computeControlRegister();
}

void TemperatureControlDialog::computeControlRegister() {
    m_regs.image.control = m_modes.pack();
    m_value->setText(Temperature::registerHexText(m_regs.image.control));
}

} // namespace qim
