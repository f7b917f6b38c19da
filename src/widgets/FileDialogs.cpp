#include "FileDialogs.h"

#include <QFileDialog>

namespace qim {

QFileDialog* askForFile(QWidget* parent, const FileRequest& request,
                        std::function<void(const QString& path)> chosen) {
    auto* dialog = new QFileDialog(parent, request.title, request.directory, request.filter);
    dialog->setObjectName(request.objectName);
    if (request.mode == FileRequest::Mode::Save) {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setDefaultSuffix(request.suffix);
        if (!request.suggestedName.isEmpty())
            dialog->selectFile(request.suggestedName);
    } else {
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
    }
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QFileDialog::fileSelected, parent, std::move(chosen));
    dialog->open();
    return dialog;
}

} // namespace qim
