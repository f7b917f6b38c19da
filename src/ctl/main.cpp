// qimctl: the bus from a terminal and from scripts, on the same link as the
// program's windows. No widgets: a QCoreApplication and one Session.

#include "Interrupt.h"
#include "Link.h"
#include "Options.h"
#include "Output.h"
#include "SerialTransport.h"
#include "Session.h"
#include "TcpTransport.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    using namespace qim::ctl;
    QCoreApplication app(argc, argv);
    Interrupt interrupt; // before anything starts a thread
    QCoreApplication::setApplicationName(QStringLiteral("qimctl"));

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    const Parsed parsed = parse(args);
    const auto outputFailed = [](const Printer& out) {
        printFailure(QStringLiteral("cannot write the output: %1").arg(out.error()));
        return Exit::OutputFailed;
    };
    if (!parsed.help.isNull()) {
        Printer out(Format::Text, true);
        return out.line(parsed.help.chopped(1)) ? Exit::Ok : outputFailed(out);
    }
    if (!parsed.options) {
        printFailure(parsed.error);
        return Exit::BadArguments;
    }

    qim::SerialTransport serial;
    qim::TcpTransport tcp;
    qim::Link link(serial, tcp);
    Printer out(parsed.options->format, parsed.options->watchMs.has_value());
    Session session(link, *parsed.options, out);
    QObject::connect(&link, &qim::Link::message, &session, &Session::linkMessage);
    QObject::connect(&interrupt, &Interrupt::interrupted, &session, &Session::interrupt);
    QObject::connect(&session, &Session::finished, &app,
                     [](int code) { QCoreApplication::exit(code); });
    QMetaObject::invokeMethod(&session, &Session::start, Qt::QueuedConnection);
    const int code = QCoreApplication::exec();
    link.closeAll();
    // A text table is printed whole once the run is over.
    if (code != Exit::OutputFailed && !out.end())
        return outputFailed(out);
    return code;
}
