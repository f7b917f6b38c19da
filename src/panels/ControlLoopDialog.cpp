#include "ControlLoopDialog.h"

#include "MessagePresenter.h"
#include "NumberEntry.h"

#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qim {

namespace {
struct RowSpec {
    const char* name;
    const char* caption;
    const char* hint;
};
// Top to bottom, in the order of the loop block and of validation. The
// scaler's and band's hints are wider than what the module accepts; the
// model's bounds hold.
constexpr RowSpec Rows[Temperature::LoopRegisters] = {
    {"Text_SetPoint", "Set Point (SP)", "From 0 To 1023 Deg C"},
    {"Text_CycleTime", "Loop Sampling Time Scaler", "From 0 To 255 "},
    {"Text_Band", "Band/Gain", "From 1 To 255"},
    {"Text_AlarmHigh", "Alarm High", "From 0 To 1023 Deg C"},
    {"Text_AlarmLow", "Alarm Low", "From 0 To 1023 Deg C"},
};
} // namespace

ControlLoopDialog::ControlLoopDialog(TemperatureRegisters& registers, MessagePresenter& presenter,
                                     QWidget* parent)
    : QDialog(parent), m_regs(registers), m_presenter(presenter) {
    setObjectName(QStringLiteral("frmQIM_P750_ControlLoop"));
    setWindowTitle(QStringLiteral("QIM-P750 Control Loop Registers"));
    setAttribute(Qt::WA_DeleteOnClose);

    m_caption = new QLabel(this);
    m_caption->setObjectName(QStringLiteral("Label_ControlLoopNumber"));
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(font().pointSizeF() * 1.4);
    f.setBold(true);
    m_caption->setFont(f);

    auto* grid = new QGridLayout;
    int gridRow = 0;
    for (int i = 0; i < Temperature::LoopRegisters; ++i) {
        const RowSpec& s = Rows[i];
        auto* box = new QLineEdit(this);
        box->setObjectName(QLatin1String(s.name));
        box->setMaximumWidth(90);
        auto* caption = new QLabel(QLatin1String(s.caption), this);
        caption->setBuddy(box);
        grid->addWidget(caption, gridRow, 0);
        grid->addWidget(box, gridRow, 1);
        grid->addWidget(new QLabel(QLatin1String(s.hint), this), gridRow, 2);
        ++gridRow;
        if (i == 1) {
            // What the scaler means: the loop samples every Ts x (LSTS + 1).
            grid->addWidget(new QLabel(QStringLiteral("LST = Ts X (LSTS + 1)"), this), gridRow, 2);
            ++gridRow;
        }
        m_boxes[i] = box;
    }

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Cmd_OK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &ControlLoopDialog::ok);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);

    auto* top = new QVBoxLayout(this);
    top->addWidget(m_caption);
    top->addLayout(grid);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);
}

void ControlLoopDialog::showLoop(int n) {
    if (n >= 1 && n <= Temperature::Loops && n != m_loop)
        load(n);
}

void ControlLoopDialog::load(int loop) {
    m_loop = loop;
    m_caption->setText(QStringLiteral("Control Loop #") + QString::number(loop));
    const Temperature::LoopBlock& block = m_regs.image.loops[loop - 1];
    for (int i = 0; i < Temperature::LoopRegisters; ++i)
        m_boxes[i]->setText(QString::number(static_cast<int16_t>(block[i])));
}

void ControlLoopDialog::ok() {
    // The first bad entry stops everything: nothing at all is stored.
    Temperature::LoopBlock values{};
    for (int i = 0; i < Temperature::LoopRegisters; ++i) {
        const EntryRule rule = Temperature::loopRule(i);
        const auto value = rule.parse(m_boxes[i]->text());
        if (!value) {
            m_presenter.show(rule.message());
            m_boxes[i]->setFocus();
            m_boxes[i]->selectAll();
            return;
        }
        values[i] = *value;
    }
    m_regs.image.loops[m_loop - 1] = values;
    close();
}

} // namespace qim
