#include "Artwork.h"
#include "Startup.h"
#include "Version.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(qim::ProgramTitle);
    QApplication::setApplicationVersion(qim::VersionText);
    // Every window without an icon of its own (the panels, the traffic
    // window, the register dialogs, message boxes) shows the program's.
    QApplication::setWindowIcon(qim::ProgramIcon());
    // Ties the windows to the installed desktop entry (qimtool.desktop), so
    // docks and task bars show its name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("qimtool"));
    qim::Startup startup;
    startup.start();
    return QApplication::exec();
}
