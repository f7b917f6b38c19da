#pragma once
// The program as main() builds it, less the splash, for tests that work its
// windows with Window (support/Window.h) and answer its message boxes.

#include "Link.h"
#include "MainWindow.h"
#include "MessagePresenter.h"
#include "TestSupport.h"
#include "Window.h"

#include <QPushButton>

namespace apptest {

using qimtest::Window;

struct App {
    qimtest::RealLink link;
    qim::MessagePresenter presenter;
    QPointer<qim::MainWindow> main;

    App() {
        QObject::connect(&link, &qim::Link::message, &presenter, &qim::MessagePresenter::show);
        settings([](qim::LinkSettings& s) { s.host = QStringLiteral("127.0.0.1"); });
        main = new qim::MainWindow(link, presenter);
        main->show();
    }
    ~App() {
        presenter.dismissAll();
        delete main.data();
    }
    Window window() const { return Window(main.data()); }
    // The panel of a module at address with code, opened as the main window does.
    bool openPanel(uint8_t address, uint8_t code) {
        qim::DeviceRecord module;
        module.address = address;
        module.code = code;
        return main->openPanel(module);
    }
    template <class Edit> void settings(Edit edit) { qimtest::configure(link, edit); }
    // Every message shown so far, each box answered with OK.
    QStringList messages() {
        seen += qimtest::takeMessages();
        return seen;
    }
    QStringList seen;
};

} // namespace apptest
