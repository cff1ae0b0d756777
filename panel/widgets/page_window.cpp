#include "panel/widgets/page_window.h"

#include <QFile>
#include <QFileDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QApplication>
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

// After the modal dialog `closed` has closed: its leftover popups closed, opener's window active
// and opener focused.
void ReturnFocus(QWidget* closed, QWidget* opener)
{
    // A typed path leaves the name field's list of completions open when Enter closes the
    // dialog: the application stays in popup mode, where it drops the window manager's
    // activation of the owner, and the owner would keep no focus at all.
    while (QWidget* popup = QApplication::activePopupWidget()) {
        QObject* o = popup;
        while (o && o != closed)
            o = o->parent();
        if (!o)
            break;
        popup->hide();  // hidden, it leaves the popup stack (a close could be refused)
    }
    if (!opener || !opener->isVisible())
        return;
    QWidget* window = opener->window();
    window->activateWindow();
    // The window manager has made it active already and says so no more.
    if (QApplication::activeWindow() != window)
        QApplication::setActiveWindow(window);
    opener->setFocus(Qt::ActiveWindowFocusReason);
}

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
    // The control that opened the dialog ("Open", "..."), which gets the keyboard back.
    QPointer<QWidget> opener = QApplication::focusWidget();
    if (!opener && dialog.parentWidget())
        opener = dialog.parentWidget()->window()->focusWidget();  // its window was not active
    const int result = dialog.exec();
    ReturnFocus(&dialog, opener);
    if (result != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QFile::encodeName(dialog.selectedFiles().first()).toStdString();
}

}  // namespace corvane
