#pragma once
// Asking the user for a file without blocking: the dialog opens with open(),
// never exec(), deletes itself when it closes, and the caller's chosen()
// runs with the path the user accepted.

#include <QString>
#include <functional>

class QFileDialog;
class QWidget;

namespace qim {

struct FileRequest {
    enum class Mode { Save, Open };
    Mode mode = Mode::Save;
    QString title{};
    QString objectName{};
    QString filter{};
    QString directory{};
    QString suffix{};        // save: added to a name typed without one
    QString suggestedName{}; // save: the name offered
};

// The dialog is open when this returns; chosen() runs only while parent lives.
QFileDialog* askForFile(QWidget* parent, const FileRequest& request,
                        std::function<void(const QString& path)> chosen);

} // namespace qim
