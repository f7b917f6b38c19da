#include "DiscretePanel.h"

#include "DeviceTable.h"
#include "DiscreteModule.h"
#include "Link.h"
#include "Pictures.h"
#include "StatusPanels.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qim {

DiscretePanel::DiscretePanel(Link& link, MessagePresenter& presenter)
    : PollPanel(link, presenter, ModuleKind::Discrete) {
    setObjectName(QStringLiteral("frmQIM_K520"));
    setWindowTitle(QStringLiteral("QIM-K520 / QIM-K530"));
    auto* root = new QVBoxLayout(this);
    root->addWidget(m_address);

    auto* frames = new QHBoxLayout;
    auto* frame1 = new QGroupBox(QStringLiteral("Discrete Inputs"), this);
    frame1->setObjectName(QStringLiteral("Frame1"));
    auto* inGrid = new QGridLayout(frame1);
    auto* frame2 = new QGroupBox(QStringLiteral("Discrete/Relay Outputs"), this);
    frame2->setObjectName(QStringLiteral("Frame2"));
    auto* outGrid = new QGridLayout(frame2);
    for (int i = 0; i < Discrete::Points; ++i) {
        const int n = i + 1;
        auto* led = new StatePicture(StatePicture::Kind::Led, frame1);
        led->setObjectName(QStringLiteral("Image_Input%1").arg(n));
        auto* label = new QLabel(QStringLiteral("Input %1").arg(n), frame1);
        label->setObjectName(QStringLiteral("lblInput%1").arg(n));
        inGrid->addWidget(led, i, 0);
        inGrid->addWidget(label, i, 1);
        m_inputPictures[i] = led;

        auto* box = new QCheckBox(QStringLiteral("Output %1").arg(n), frame2);
        box->setObjectName(QStringLiteral("Chk_Output%1").arg(n));
        auto* contact = new StatePicture(StatePicture::Kind::Contact, frame2);
        contact->setObjectName(QStringLiteral("Image_Output%1").arg(n));
        outGrid->addWidget(box, i, 0);
        outGrid->addWidget(contact, i, 1);
        m_outputPictures[i] = contact;
        connect(box, &QCheckBox::toggled, this, [this, i](bool on) { outputClicked(i, on); });
    }
    inGrid->setColumnStretch(1, 1);
    outGrid->setColumnStretch(0, 1);
    frames->addWidget(frame1);
    frames->addWidget(frame2);
    root->addLayout(frames);

    auto* bottom = new QHBoxLayout;
    auto* frame3 = new QGroupBox(QStringLiteral("Time between polls"), this);
    frame3->setObjectName(QStringLiteral("Frame3"));
    makePollControls(frame3);
    auto* f3 = new QHBoxLayout(frame3);
    auto* unit = new QLabel(QStringLiteral("ms"), frame3);
    unit->setObjectName(QStringLiteral("lblScanUnit"));
    f3->addWidget(m_interval);
    f3->addWidget(unit);
    f3->addStretch(1);
    bottom->addWidget(frame3);

    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {m_scan, m_stop, m_close})
        buttons->addWidget(b);
    bottom->addLayout(buttons);
    root->addLayout(bottom);
    root->addWidget(m_sb);
    load(DeviceRecord{});
}

void DiscretePanel::loadModule() {
    m_inputs = m_outputs = 0;
    for (int k = 0; k < Discrete::Points; ++k) {
        m_inputPictures[k]->setState(0);
        m_outputPictures[k]->setState(0);
    }
}

void DiscretePanel::outputClicked(int k, bool ticked) {
    m_outputs = Discrete::withState(m_outputs, k, ticked);
    m_outputPictures[k]->setState(ticked ? 1 : 0);
}

void DiscretePanel::pollCycle(PollLoop::Done done) {
    Discrete::writeOutputs(m_outputs).send(
        m_link, m_slave, {this, [this, done](const Reply& written) {
                              if (!written.ok())
                                  m_loop->countError();
                              if (!m_loop->running())
                                  return; // the window is closing
                              m_link.advanceTransaction();
                              pollRead(Discrete::readInputs(), done, [this](const Reply& r) {
                                  const auto inputs = Discrete::decodeInputs(r);
                                  m_inputs = inputs.value_or(m_inputs);
                                  return inputs.has_value();
                              });
                          }});
}

void DiscretePanel::drawReadings() {
    for (int k = 0; k < Discrete::Points; ++k)
        m_inputPictures[k]->setState(Discrete::stateOf(m_inputs, k));
}

} // namespace qim
