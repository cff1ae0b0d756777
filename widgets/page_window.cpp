#include "widgets/page_window.h"

#include <QFile>
#include <QFileDialog>
#include <QWidget>

#include "platform/qt_ui.h"

namespace corvane {

void SetPageGround(QWidget* page)
{
    QPalette pal = page->palette();
    pal.setColor(QPalette::Window, ButtonFaceColor());
    page->setPalette(pal);
    page->setAutoFillBackground(true);
}

std::unique_ptr<QFileDialog> MakeOpenFileDialog(QWidget* parent, const QString& filter, const QString& suffix)
{
    auto dialog = std::make_unique<QFileDialog>(parent, QString(), QString(), filter);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setDefaultSuffix(suffix);
    return dialog;
}

std::optional<std::string> RunOpenFileDialog(QFileDialog& dialog)
{
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QFile::encodeName(dialog.selectedFiles().first()).toStdString();
}

}  // namespace corvane
