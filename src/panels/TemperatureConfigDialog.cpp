#include "TemperatureConfigDialog.h"

#include "NumberEntry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qim {

namespace {
QComboBox* makeList(QWidget* parent, const char* name, const QStringList& items) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QLatin1String(name));
    c->addItems(items);
    c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return c;
}
} // namespace

TemperatureConfigDialog::TemperatureConfigDialog(TemperatureRegisters& registers, QWidget* parent)
    : QDialog(parent), m_regs(registers) {
    setObjectName(QStringLiteral("frmQIM_P750_Config"));
    setWindowTitle(QStringLiteral("QIM-P750 Configuration Register"));
    setAttribute(Qt::WA_DeleteOnClose);

    m_average = makeList(this, "Combo_Average", itemTexts(Temperature::AverageItems));
    m_type = makeList(this, "Combo_Type", itemTexts(Temperature::TypeItems));
    m_sampling = makeList(this, "Combo_Sampling", Temperature::samplingItems());

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Average"), this), 0, 0);
    grid->addWidget(m_average, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Type"), this), 1, 0);
    grid->addWidget(m_type, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Sampling"), this), 2, 0);
    grid->addWidget(m_sampling, 2, 1);
    for (int i = 0; i < 4; ++i) {
        m_alarm[i] = new QCheckBox(QStringLiteral("Enable Alarm %1").arg(i + 1), this);
        m_alarm[i]->setObjectName(QStringLiteral("Check_Alarm%1").arg(i + 1));
        grid->addWidget(m_alarm[i], 3 + i, 1);
    }

    m_value = new QLabel(this);
    m_value->setObjectName(QStringLiteral("Label_Config"));
    m_value->setFrameShape(QFrame::StyledPanel);
    m_value->setFrameShadow(QFrame::Sunken);
    m_value->setMinimumWidth(80);
    m_value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(new QLabel(QStringLiteral("Configuration Register"), this), 7, 0);
    grid->addWidget(m_value, 7, 1);

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

    // A list position or check box set from code counts as a change, like a
    // user's: store the field, repack.
    auto onList = [this](int* field) {
        return [this, field](int index) {
            if (index < 0)
                return;
            *field = index;
            computeConfigRegister();
        };
    };
    connect(m_average, &QComboBox::currentIndexChanged, this, onList(&m_fields.average));
    connect(m_type, &QComboBox::currentIndexChanged, this, onList(&m_fields.type));
    connect(m_sampling, &QComboBox::currentIndexChanged, this, onList(&m_fields.sampling));
    for (int i = 0; i < 4; ++i) {
        connect(m_alarm[i], &QCheckBox::toggled, this, [this, i](bool on) {
            m_fields.alarm[i] = on ? 1 : 0;
            computeConfigRegister();
        });
    }
    load();
}

void TemperatureConfigDialog::load() {
    // All fields first, so each control set below repacks the stored value unchanged.
    m_fields = Temperature::ConfigFields::unpack(m_regs.image.config);
    const Temperature::ConfigFields f = m_fields;
    m_average->setCurrentIndex(f.average);
    m_sampling->setCurrentIndex(f.sampling);
    m_type->setCurrentIndex(f.type);
    for (int i = 0; i < 4; ++i)
        m_alarm[i]->setChecked(f.alarm[i] != 0);
    computeConfigRegister();
}

void TemperatureConfigDialog::computeConfigRegister() {
    m_regs.image.config = m_fields.pack();
    m_value->setText(Temperature::registerHexText(m_regs.image.config));
}

} // namespace qim
