#include "panel/pages/edid_dlg.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "panel/widgets/qt_ui.h"
#include "panel/widgets/accessible_window.h"
#include "panel/widgets/page_window.h"

namespace corvane {

namespace {

constexpr int kListIds[] = {1081, 1083, 1086, 1088, 1091};  // in EdidList order
constexpr int kInputEdidIds[kEdidInputs] = {1109, 1110, 1111, 1112};
constexpr int kFileEditId = 1042;

QStringList TargetNames() { return {"IN1", "IN2", "IN3", "IN4", "All Input"}; }

QString FromPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

}  // namespace

CEDIDDlg::CEDIDDlg(CLinkCore& link, QWidget* parent) : QWidget(parent), m_page(link, *this)
{
    m_controls = BuildDialog(140, this);
    setAccessibleName(QStringLiteral("EDID"));
    SetPageGround(this);

    QStringList names;
    for (int i = 0; i < kEdidNames; ++i)
        names << QString::fromLatin1(EdidListName(i));
    // Each list is named by what it chooses and tied to its caption ("Set EDID Mode", "to", ...),
    // so it is not read by its value alone.
    const struct {
        EdidList list;
        QStringList items;
        const char* name;
        int caption;
        const char* description;
    } lists[] = {
        {EdidList::Preset, names, "EDID preset", 1080, "EDID preset to set"},
        {EdidList::PresetTarget, TargetNames(), "Input for the preset", 1082, "Input that gets the preset"},
        {EdidList::CopySource, {"HDMI OUTA", "HDMI OUTB"}, "Copy EDID from", 1085, "Output whose display EDID is copied"},
        {EdidList::CopyTarget, TargetNames(), "Input for the copy", 1087, "Input that gets the copy"},
        {EdidList::FileTarget, TargetNames(), "Input for the file", 1090, "Input that gets the file"},
    };
    for (const auto& l : lists) {
        QComboBox* box = List(l.list);
        box->addItems(l.items);  // in this order, never sorted
        box->setCurrentIndex(0);
        box->setAccessibleName(QString::fromLatin1(l.name));
        box->setAccessibleDescription(QString::fromLatin1(l.description));
        qobject_cast<QLabel*>(Control(l.caption))->setBuddy(box);
    }
    FileEdit()->setReadOnly(true);
    FileEdit()->setAccessibleName(QStringLiteral("EDID file"));
    FileEdit()->setAccessibleDescription(QStringLiteral("Accepted EDID file"));
    qobject_cast<QLabel*>(Control(1103))->setBuddy(FileEdit());
    for (int n = 1; n <= kEdidInputs; ++n) {
        InputEdid(n)->setAccessibleDescription(QStringLiteral("EDID of input %1").arg(n));
        qobject_cast<QLabel*>(Control(1104 + n))->setBuddy(InputEdid(n));  // "IN1:" .. "IN4:"
    }

    // clicked: mouse, keyboard and assistive actions all arrive here. The three "Set" and "..."
    // are named by what they do; the captions stay.
    const struct {
        int id;
        const char* name;  // nullptr: the caption
        const char* description;
        void (CEdidPage::*handler)();
    } buttons[] = {
        {1084, "Set the preset", nullptr, &CEdidPage::OnSetPreset},
        {1089, "Set the display's EDID", nullptr, &CEdidPage::OnSetCopy},
        {1104, "Choose an EDID file", nullptr, &CEdidPage::OnOpenFile},
        {1092, "Send the EDID file", nullptr, &CEdidPage::OnSetFile},
        {1113, nullptr, "Read the EDID of every input", &CEdidPage::OnStatus},
    };
    for (const auto& b : buttons) {
        auto* button = qobject_cast<QPushButton*>(Control(b.id));
        if (b.name)
            button->setAccessibleName(QString::fromLatin1(b.name));
        if (b.description)
            button->setAccessibleDescription(QString::fromLatin1(b.description));
        connect(button, &QPushButton::clicked, this, [this, h = b.handler] { (m_page.*h)(); });
    }
    // Enter, Escape and Space never reach the page's buttons. Inside the main window its own
    // filter covers the page and opens the system menu on Alt+Space, which a second filter here
    // would swallow first; a page shown on its own brings its own.
    if (!parent)
        InstallKeyFilter(this);
}

QWidget* CEDIDDlg::Control(int id) const { return corvane::Control<QWidget>(m_controls, id); }

std::vector<QWidget*> CEDIDDlg::FocusOrder() const
{
    // Row by row: the preset, the display's EDID, the file; then the input EDID list's "Status".
    std::vector<QWidget*> order;
    for (int id : {1081, 1083, 1084, 1086, 1088, 1089, 1104, kFileEditId, 1091, 1092, 1113})
        order.push_back(Control(id));
    return order;
}

QComboBox* CEDIDDlg::List(EdidList list) const
{
    return qobject_cast<QComboBox*>(Control(kListIds[static_cast<int>(list)]));
}

QLineEdit* CEDIDDlg::FileEdit() const { return qobject_cast<QLineEdit*>(Control(kFileEditId)); }

QLabel* CEDIDDlg::InputEdid(int input) const
{
    return input >= 1 && input <= kEdidInputs ? qobject_cast<QLabel*>(Control(kInputEdidIds[input - 1])) : nullptr;
}

int CEDIDDlg::Selection(EdidList list) const
{
    const QComboBox* box = List(list);
    return box ? box->currentIndex() : -1;
}

void CEDIDDlg::ShowInputEdid(int input, const std::string& name)
{
    if (QLabel* label = InputEdid(input))
        label->setText(QString::fromStdString(name));
}

void CEDIDDlg::ShowFile(const std::string& path, const std::vector<std::string>& summary)
{
    const QString shown = FromPath(path);
    // A long path shows its end, the file name; the whole path stays in the text and the tip.
    FileEdit()->setText(shown);
    FileEdit()->setCursorPosition(static_cast<int>(shown.size()));
    QStringList lines{shown};
    for (const std::string& line : summary)
        lines << QString::fromStdString(line);
    // Escaped and set as rich text, so neither a path nor an EDID text can format the tip.
    QStringList escaped;
    for (const QString& line : lines)
        escaped << line.toHtmlEscaped();
    m_acceptedTip = escaped.join(QStringLiteral("<br>"));
    FileEdit()->setToolTip(QStringLiteral("<p style='white-space:pre'>%1</p>").arg(m_acceptedTip));
    lines.removeFirst();
    m_acceptedDescription = QStringLiteral("Accepted EDID file. ") + lines.join(QStringLiteral("; "));
    FileEdit()->setAccessibleDescription(m_acceptedDescription);
}

void CEDIDDlg::ShowRefusal(const std::string& reason)
{
    // The reason first; the file still accepted, if any, below it.
    const QString text = FromPath(reason);
    QString tip = text.toHtmlEscaped();
    if (!m_acceptedTip.isEmpty())
        tip += QStringLiteral("<br><br>") + m_acceptedTip;
    FileEdit()->setToolTip(QStringLiteral("<p style='white-space:pre'>%1</p>").arg(tip));
    // The field still shows the accepted file: its description stays about that file, the
    // refusal after it.
    FileEdit()->setAccessibleDescription(m_acceptedDescription.isEmpty()
                                             ? QStringLiteral("Not taken: ") + text
                                             : m_acceptedDescription + QStringLiteral(" Not taken: ") + text);
}

void CEDIDDlg::SetDone() { Announce(window(), QStringLiteral("Set successfully!")); }

void CEDIDDlg::InputsRead()
{
    QStringList lines;
    for (int n = 1; n <= kEdidInputs; ++n)
        lines << QStringLiteral("IN%1: %2").arg(n).arg(InputEdid(n)->text());
    Announce(window(), lines.join(QStringLiteral(", ")));
}

std::unique_ptr<QFileDialog> CEDIDDlg::MakeFileDialog()
{
    return MakeOpenFileDialog(this, QStringLiteral("Binary file(*.BIN)"), QStringLiteral("BIN"));
}

std::optional<std::string> CEDIDDlg::ChooseFile()
{
    if (m_chooser)
        return m_chooser();
    return RunOpenFileDialog(*MakeFileDialog());
}

}  // namespace corvane
