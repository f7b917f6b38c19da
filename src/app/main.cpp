#include "Startup.h"
#include "Version.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(qim::ProgramTitle);
    QApplication::setApplicationVersion(qim::VersionText);
    qim::Startup startup;
    startup.start();
    return QApplication::exec();
}
