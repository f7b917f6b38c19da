#pragma once
// The modules of the QIM family by device code, the byte a module's
// identification carries: its name, its description, and the kind of model
// (and so the panel) that serves it.

#include <QString>
#include <cstdint>

namespace qim {

enum class DeviceCode : uint8_t { K520 = 10, K530 = 11, M640 = 20, P750 = 30 };

// One model, and one panel, per kind.
enum class ModuleKind { None, Discrete, Analog, Temperature };

// The kind serving a device code; None for an unlisted code.
ModuleKind moduleKindOf(uint8_t code);

// Model name and description for a device code; empty for an unlisted code.
QString deviceNameOf(uint8_t code);
QString deviceTypeOf(uint8_t code);

} // namespace qim
