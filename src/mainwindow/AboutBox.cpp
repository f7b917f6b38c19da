#include "AboutBox.h"

#include "Artwork.h"
#include "Version.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qim {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About"));
    setWindowIcon(programIcon());
    setAttribute(Qt::WA_DeleteOnClose);

    auto* picture = new ModulePicture(72, this);
    picture->setObjectName(QStringLiteral("Picture1"));

    auto* name = new QLabel(ProgramTitle, this);
    name->setObjectName(QStringLiteral("Label1"));
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    name->setFont(big);

    auto* version = new QLabel(this);
    version->setObjectName(QStringLiteral("Label2"));
    version->setText(QStringLiteral("Version ") + VersionText);

    auto* description = new QLabel(
        QStringLiteral("QIMTool is a Modbus master simulator for the QIM remote I/O modules."),
        this);
    description->setObjectName(QStringLiteral("Label3"));
    description->setWordWrap(true);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::close);

    auto* text = new QVBoxLayout;
    text->addWidget(name);
    text->addWidget(version);
    text->addSpacing(10);
    text->addWidget(description);
    text->addStretch();

    auto* top = new QHBoxLayout;
    top->setSpacing(18);
    top->addWidget(picture, 0, Qt::AlignTop);
    top->addLayout(text, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);

    auto* all = new QVBoxLayout(this);
    all->setContentsMargins(18, 18, 18, 14);
    all->addLayout(top);
    all->addLayout(buttons);
    setMinimumWidth(380);
    adjustSize();
}

} // namespace qim
