// qimctl: the bus from a terminal and from scripts, on the same link as the
// program's windows. No widgets: a QCoreApplication and one Session.

#include "Interrupt.h"
#include "Link.h"
#include "Options.h"
#include "Output.h"
#include "Session.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    using namespace qim::ctl;
    QCoreApplication app(argc, argv);
    Interrupt interrupt; // before anything starts a thread
    QCoreApplication::setApplicationName(QStringLiteral("qimctl"));

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    const Parsed parsed = Parse(args);
    if (!parsed.help.isNull()) {
        std::fputs(parsed.help.toLocal8Bit().constData(), stdout);
        return Exit::Ok;
    }
    if (!parsed.options) {
        Complain(parsed.error);
        return Exit::BadArguments;
    }

    qim::Link link;
    Printer out(parsed.options->format);
    Session session(link, *parsed.options, out);
    QObject::connect(&link, &qim::Link::message, &app, [](const QString& text) { Complain(text); });
    QObject::connect(&interrupt, &Interrupt::interrupted, &session, &Session::interrupt);
    QObject::connect(&session, &Session::finished, &app,
                     [](int code) { QCoreApplication::exit(code); });
    QMetaObject::invokeMethod(&session, &Session::start, Qt::QueuedConnection);
    const int code = QCoreApplication::exec();
    link.closeAll();
    return code;
}
