#pragma once
// The about box frmAbout: product name, version and what the program is.

#include <QDialog>

namespace qim {

class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr);
};

} // namespace qim
