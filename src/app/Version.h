#pragma once
#include <QString>

namespace qim {
// The one version text: main window caption, splash and about box.
inline const QString VersionText = QStringLiteral("V1.10");
inline const QString ProgramTitle = QStringLiteral("QIMTool");
} // namespace qim
