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
    double high;
    const char* message;
};
// Top to bottom, in the order of the loop block and of validation. The
// scaler's and band's hints are wider than what the module accepts; the
// checks hold.
constexpr RowSpec Rows[] = {
    {"Text_SetPoint", "Set Point (SP)", "From 0 To 1023 Deg C", 1023,
     "Set Point must be a number from 0 to 1023"},
    {"Text_CycleTime", "Loop Sampling Time Scaler", "From 0 To 255 ", 127,
     "Cycle Time must be a number from 0 to 127"},
    {"Text_Band", "Band/Gain", "From 1 To 255", 127, "Band must be a number from 0 to 127"},
    {"Text_AlarmHigh", "Alarm High", "From 0 To 1023 Deg C", 1023,
     "Alarm High must be a number from 0 to 1023"},
    {"Text_AlarmLow", "Alarm Low", "From 0 To 1023 Deg C", 1023,
     "Alarm Low must be a number from 0 to 1023"},
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
    for (int i = 0; i < RowCount; ++i) {
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
        m_rows[i] = {box, s.high, s.message};
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
    if (n >= 1 && n <= TempLoops && n != m_loop)
        load(n);
}

void ControlLoopDialog::load(int loop) {
    m_loop = loop;
    m_caption->setText(QStringLiteral("Control Loop #") + QString::number(loop));
    const int base = LoopBase(loop);
    for (int i = 0; i < RowCount; ++i)
        m_rows[i].box->setText(QString::number(static_cast<int16_t>(m_regs.outputs[base + i])));
}

void ControlLoopDialog::ok() {
    // The first bad entry stops everything: nothing at all is stored.
    int16_t values[RowCount];
    for (int i = 0; i < RowCount; ++i) {
        const auto e = ParseEntry(m_rows[i].box->text(), 0, m_rows[i].high);
        if (!e) {
            m_presenter.show(QLatin1String(m_rows[i].message));
            m_rows[i].box->setFocus();
            m_rows[i].box->selectAll();
            return;
        }
        values[i] = static_cast<int16_t>(e->rounded);
    }
    const int base = LoopBase(m_loop);
    for (int i = 0; i < RowCount; ++i)
        m_regs.outputs[base + i] = values[i];
    close();
}

} // namespace qim
