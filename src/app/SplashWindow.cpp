#include "SplashWindow.h"

#include "Artwork.h"
#include "Version.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace qim {

SplashWindow::SplashWindow(int durationMs, QWidget* parent)
    : QFrame(parent, Qt::SplashScreen | Qt::FramelessWindowHint), m_timer(new QTimer(this)) {
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(QString::fromLatin1(ProgramTitle));
    setWindowIcon(programIcon());
    setFrameShape(QFrame::Box);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(246, 248, 252));
    setPalette(pal);

    auto* picture = new ModulePicture(128, this);
    picture->setObjectName(QStringLiteral("Image1"));

    auto* name = new QLabel(ProgramTitle, this);
    name->setObjectName(QStringLiteral("Label1"));
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 2.6);
    big.setBold(true);
    name->setFont(big);

    auto* version = new QLabel(this);
    version->setObjectName(QStringLiteral("Label2"));
    QFont mid = version->font();
    mid.setPointSizeF(mid.pointSizeF() * 1.2);
    version->setFont(mid);

    auto* role = new QLabel(QStringLiteral("Modbus RTU and Modbus TCP master\nfor the QIM remote "
                                           "I/O modules"),
                            this);
    role->setObjectName(QStringLiteral("Label3"));
    auto* loading = new QLabel(QStringLiteral("Starting..."), this);
    loading->setObjectName(QStringLiteral("Label4"));
    loading->setForegroundRole(QPalette::PlaceholderText);

    auto* text = new QVBoxLayout;
    text->addStretch();
    text->addWidget(name);
    text->addWidget(version);
    text->addSpacing(12);
    text->addWidget(role);
    text->addStretch();
    text->addWidget(loading);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(28, 24, 36, 20);
    row->setSpacing(28);
    row->addWidget(picture, 0, Qt::AlignVCenter);
    row->addLayout(text);

    // The load step: the version line and the one-tick timer.
    version->setText(QStringLiteral("Version ") + VersionText);
    m_timer->setObjectName(QStringLiteral("TimerSplash"));
    m_timer->setInterval(durationMs);
    connect(m_timer, &QTimer::timeout, this, &SplashWindow::tick);
    m_timer->start();

    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void SplashWindow::tick() {
    m_timer->stop();
    m_done = true;
    Q_EMIT done();
}

void SplashWindow::closeEvent(QCloseEvent* e) {
    // The splash leaves when the main window is up, not before.
    if (!m_done)
        e->ignore();
}

} // namespace qim
