#include "DeviceCodes.h"

namespace qim {

namespace {
struct Model {
    DeviceCode code;
    const char* name;
    const char* type;
    ModuleKind kind;
};
constexpr Model Models[] = {
    {DeviceCode::K520, "QIM-K520", "8 Discrete Inputs & 8 Discrete Outputs", ModuleKind::Discrete},
    {DeviceCode::K530, "QIM-K530", "8 Discrete Inputs & 8 Relay Outputs", ModuleKind::Discrete},
    {DeviceCode::M640, "QIM-M640", "8 Analog Inputs & 8 Analog Outputs", ModuleKind::Analog},
    {DeviceCode::P750, "QIM-P750", "4 Temperature control loops", ModuleKind::Temperature},
};

const Model* modelOf(uint8_t code) {
    for (const Model& m : Models)
        if (static_cast<uint8_t>(m.code) == code)
            return &m;
    return nullptr;
}
} // namespace

ModuleKind moduleKindOf(uint8_t code) {
    const Model* m = modelOf(code);
    return m ? m->kind : ModuleKind::None;
}

QString deviceNameOf(uint8_t code) {
    const Model* m = modelOf(code);
    return m ? QString::fromLatin1(m->name) : QString();
}

QString deviceTypeOf(uint8_t code) {
    const Model* m = modelOf(code);
    return m ? QString::fromLatin1(m->type) : QString();
}

} // namespace qim
