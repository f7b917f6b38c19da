#include "Artwork.h"
#include "Link.h"
#include "MessagePresenter.h"
#include "SerialTransport.h"
#include "Startup.h"
#include "TcpTransport.h"
#include "Version.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(qim::ProgramTitle));
    QApplication::setApplicationVersion(QString::fromLatin1(qim::VersionText));
    // Every window without an icon of its own (the panels, the traffic
    // window, the register dialogs, message boxes) shows the program's.
    QApplication::setWindowIcon(qim::programIcon());
    // Ties the windows to the installed desktop entry (qimtool.desktop), so
    // docks and task bars show its name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("qimtool"));

    qim::SerialTransport serial;
    qim::TcpTransport tcp;
    qim::Link link(serial, tcp);
    // Before any window or link traffic: the link's first message (a port
    // that does not open) always finds someone to show it.
    qim::MessagePresenter presenter;
    QObject::connect(&link, &qim::Link::message, &presenter, &qim::MessagePresenter::show);
    qim::Startup startup(link, presenter);
    startup.start();
    return QApplication::exec();
}
