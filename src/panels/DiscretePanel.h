#pragma once
// The panel of the discrete modules QIM-K520 and QIM-K530. Each poll cycle
// writes the eight output states and reads the eight input states back.

#include "PollPanel.h"

#include <array>

class QCheckBox;

namespace qim {

class StatePicture;

class DiscretePanel : public PollPanel {
    Q_OBJECT
public:
    DiscretePanel(Link& link, MessagePresenter& presenter);

private:
    void pollCycle(PollLoop::Done done) override;
    void loadModule() override;
    void drawReadings() override;
    void outputClicked(int k, bool ticked);

    uint8_t m_inputs = 0;  // bit k: input k + 1, as last read
    uint8_t m_outputs = 0; // bit k: output k + 1, as the boxes set it
    std::array<StatePicture*, 8> m_inputPictures{};
    std::array<StatePicture*, 8> m_outputPictures{};
};

} // namespace qim
