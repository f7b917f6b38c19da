#include "frmQIM_P750_Control.h"

#include "Windows.h"
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qim {

frmQIM_P750_Control* frmQIM_P750_Control::open(QWidget* parent) {
    if (!s_instance) {
        s_instance = new frmQIM_P750_Control(parent);
        s_instance->load();
    }
    BringForward(s_instance);
    return s_instance;
}

frmQIM_P750_Control::frmQIM_P750_Control(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmQIM_P750_Control"));
    setWindowTitle(QStringLiteral("QIM_P750 Control Register"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* grid = new QGridLayout;
    for (int n = 0; n < TempLoops; ++n) {
        m_loop[n] = new QComboBox(this);
        m_loop[n]->setObjectName(QStringLiteral("Combo_ControlLoop%1").arg(n + 1));
        m_loop[n]->addItems({QStringLiteral("0 - Manual"), QStringLiteral("1 - ON/OFF"),
                             QStringLiteral("2 - Proportional")});
        m_loop[n]->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        grid->addWidget(new QLabel(QStringLiteral("Control Loop %1").arg(n + 1), this), n, 0);
        grid->addWidget(m_loop[n], n, 1);
        // A position set from code counts as a change, like a user's.
        connect(m_loop[n], &QComboBox::currentIndexChanged, this, [this, n](int index) {
            if (index < 0)
                return;
            LoopMode[n] = static_cast<int16_t>(index);
            computeControlRegister();
        });
    }

    m_value = new QLabel(this);
    m_value->setObjectName(QStringLiteral("Label_ControlReg"));
    m_value->setFrameShape(QFrame::StyledPanel);
    m_value->setFrameShadow(QFrame::Sunken);
    m_value->setMinimumWidth(80);
    m_value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(new QLabel(QStringLiteral("Control Register"), this), TempLoops, 0);
    grid->addWidget(m_value, TempLoops, 1);

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
}

void frmQIM_P750_Control::load() {
    // Every loop's mode first, so each list set below repacks the stored value unchanged.
    LoopMode = UnpackControl(TempControlReg);
    const TempLoopModes modes = LoopMode;
    for (int n = 0; n < TempLoops; ++n)
        m_loop[n]->setCurrentIndex(modes[n]);
    computeControlRegister();
}

void frmQIM_P750_Control::computeControlRegister() {
    TempControlReg = PackControl(LoopMode);
    m_value->setText(RegisterHexText(TempControlReg));
}

} // namespace qim
