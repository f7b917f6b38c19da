#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow w;
    w.setObjectName(QStringLiteral("frmMain"));
    w.setWindowTitle(QStringLiteral("QIMTool V1.10"));
    w.show();
    return app.exec();
}
