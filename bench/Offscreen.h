#pragma once
// What the window benchmarks share: they run offscreen unless a platform is
// chosen, with a private runtime folder, and without the offscreen
// platform's notes that it cannot raise windows or pass size hints (true,
// and no concern of a measurement).

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

namespace qim::bench {

inline void quietOffscreen(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    if (type == QtWarningMsg &&
        (message == QLatin1String("This plugin does not support raise()") ||
         message == QLatin1String("This plugin does not support propagateSizeHints()")))
        return;
    qt_message_output(type, context, message);
}

// Call before the application object is made; keep the folder while it runs.
inline void prepareOffscreen(const QTemporaryDir& runtime) {
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quietOffscreen);
}

} // namespace qim::bench
