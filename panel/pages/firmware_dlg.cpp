#include "panel/pages/firmware_dlg.h"

#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <memory>

#include "panel/widgets/accessible_window.h"
#include "panel/widgets/qt_ui.h"
#include "panel/widgets/page_window.h"

namespace corvane {

CFWDlg::CFWDlg(CLinkCore& link, QWidget* parent) : QWidget(parent), m_page(link, *this)
{
    m_controls = BuildDialog(144, this);
    setAccessibleName(QStringLiteral("FW Upgrade"));
    SetPageGround(this);

    PathEdit()->setReadOnly(true);
    Messages()->setUndoRedoEnabled(false);
    // The switcher's build text is shown as it came, never as markup.
    DeviceLine()->setTextFormat(Qt::PlainText);
    DeviceLine()->setWordWrap(false);
    // The bar has no text of its own; its value is what assistive technology reads.
    Progress()->setAccessibleName(QStringLiteral("Upgrade progress"));

    connect(OpenButton(), &QPushButton::clicked, this, [this] { m_page.OnOpenFile(); });
    connect(UpgradeButton(), &QPushButton::clicked, this, [this] { m_page.OnUpgrade(); });
    // The path field and the pane are named by their captions; Tab leaves the pane.
    PathEdit()->setAccessibleName(QStringLiteral("Open FW File"));
    Messages()->setAccessibleName(QStringLiteral("Messages"));
    Messages()->setTabChangesFocus(true);
    // As on the routing page: inside the main window its filter covers this page too.
    if (!parent)
        InstallKeyFilter(this);
}

QWidget* CFWDlg::Control(int id) const { return corvane::Control<QWidget>(m_controls, id); }

std::vector<QWidget*> CFWDlg::FocusOrder() const { return {PathEdit(), OpenButton(), UpgradeButton(), Messages()}; }

QLineEdit* CFWDlg::PathEdit() const { return qobject_cast<QLineEdit*>(Control(1042)); }
QPushButton* CFWDlg::OpenButton() const { return qobject_cast<QPushButton*>(Control(1088)); }
QPushButton* CFWDlg::UpgradeButton() const { return qobject_cast<QPushButton*>(Control(1090)); }
QProgressBar* CFWDlg::Progress() const { return qobject_cast<QProgressBar*>(Control(1094)); }
QPlainTextEdit* CFWDlg::Messages() const { return qobject_cast<QPlainTextEdit*>(Control(1093)); }
QLabel* CFWDlg::DeviceLine() const { return qobject_cast<QLabel*>(Control(1092)); }

std::optional<std::string> CFWDlg::ChooseFirmwareFile()
{
    if (m_chooser)
        return m_chooser();
    // Lists *.fw and *.FW alike.
    return RunOpenFileDialog(*MakeOpenFileDialog(this, QStringLiteral("Binary file(*.fw)"), QStringLiteral("fw")));
}

void CFWDlg::ShowPath(const std::string& path)
{
    PathEdit()->setText(QFile::decodeName(QByteArray::fromStdString(path)));
    PathEdit()->setToolTip({});
    PathEdit()->setAccessibleDescription({});
}

void CFWDlg::ShowRefusal(const std::string& reason)
{
    // One line, whatever the file's name holds.
    QString text;
    for (const QChar c : QFile::decodeName(QByteArray::fromStdString(reason)))
        text += c.unicode() < 0x20 || c.unicode() == 0x7F
                    ? QStringLiteral("\\x") + QStringLiteral("%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper()
                    : QString(c);
    PathEdit()->setToolTip(QStringLiteral("<p style='white-space:pre'>%1</p>").arg(text.toHtmlEscaped()));
    PathEdit()->setAccessibleDescription(text);
}

void CFWDlg::SetProgressRange(int maximum) { Progress()->setRange(0, maximum); }

void CFWDlg::SetProgress(int value) { Progress()->setValue(value); }

void CFWDlg::ClearMessages() { Messages()->clear(); }

void CFWDlg::AppendMessage(const std::string& text)
{
    QString t = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    Messages()->insertPlainText(t);  // at the caret, replacing the selection
    // A pane that changes is not read: its lines (the upgrade's steps and its end) are said.
    for (QString line : t.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1String("->")))
            line.remove(0, 2);
        if (!line.trimmed().isEmpty())
            AnnounceLine(window(), line.trimmed());
    }
}

void CFWDlg::ShowFailed(bool failed)
{
    QPlainTextEdit* pane = Messages();
    QPalette pal = pane->palette();
    pal.setColor(QPalette::Text, failed ? QColor(255, 0, 0) : QColor(0, 0, 0));
    pane->setPalette(pal);
    pane->viewport()->update();
}

void CFWDlg::ClearDeviceInfo() { DeviceLine()->clear(); }

void CFWDlg::ShowDeviceInfo(const SDeviceInfo& info)
{
    const std::string line = info.Line();
    DeviceLine()->setText(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
}

}  // namespace corvane
