#include "panel/widgets/page_window.h"

#include <QFile>
#include <QFileDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include "panel/widgets/qt_ui.h"

namespace corvane {

void SetPageGround(QWidget* page)
{
    QPalette pal = page->palette();
    pal.setColor(QPalette::Window, ButtonFaceColor());
    page->setPalette(pal);
    page->setAutoFillBackground(true);
}

namespace {

// Qt's default suffix goes onto every typed name without one, so "edid" could never be chosen
// by typing it; here it is added only when the name as typed names no file.
class COpenFileDialog final : public QFileDialog {
public:
    COpenFileDialog(QWidget* parent, const QString& filter, QString suffix)
        : QFileDialog(parent, QString(), QString(), filter + QStringLiteral(";;All files (*)")), m_suffix(std::move(suffix))
    {
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::ExistingFile);
        setAcceptMode(QFileDialog::AcceptOpen);
        // Qt enables "Open" only for a name that exists as typed; the suffix makes one more.
        if (auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            connect(name, &QLineEdit::textChanged, this, [this] {
                auto* buttons = findChild<QDialogButtonBox*>();
                if (buttons && buttons->button(QDialogButtonBox::Open) && !WithSuffix().isEmpty())
                    buttons->button(QDialogButtonBox::Open)->setEnabled(true);
            });
    }
    const QString& Suffix() const { return m_suffix; }

    void accept() override
    {
        // Into the name field itself: QFileDialog::selectFile leaves a field being typed in as it
        // is, so Enter would look for the name as typed and say it is not found.
        if (const QString file = WithSuffix(); !file.isEmpty())
            if (auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                name->setText(file);
        QFileDialog::accept();
    }

private:
    // The typed name with the suffix, when only that names a file; else "". Linux names are
    // case-sensitive: the suffix as given, then in lower and in upper case.
    QString WithSuffix() const
    {
        const QStringList files = selectedFiles();
        if (files.size() != 1 || m_suffix.isEmpty())
            return {};
        const QFileInfo typed(files.first());
        if (typed.exists() || !typed.suffix().isEmpty())
            return {};
        for (const QString& suffix : {m_suffix, m_suffix.toLower(), m_suffix.toUpper()}) {
            const QString withSuffix = typed.absoluteFilePath() + QLatin1Char('.') + suffix;
            if (QFileInfo(withSuffix).isFile())
                return withSuffix;
        }
        return {};
    }

    QString m_suffix;
};

}  // namespace

std::unique_ptr<QFileDialog> MakeOpenFileDialog(QWidget* parent, const QString& filter, const QString& suffix)
{
    return std::make_unique<COpenFileDialog>(parent, filter, suffix);
}

QString OpenFileDialogSuffix(const QFileDialog& dialog)
{
    const auto* ours = dynamic_cast<const COpenFileDialog*>(&dialog);
    return ours ? ours->Suffix() : QString();
}

std::optional<std::string> RunOpenFileDialog(QFileDialog& dialog)
{
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QFile::encodeName(dialog.selectedFiles().first()).toStdString();
}

}  // namespace corvane
