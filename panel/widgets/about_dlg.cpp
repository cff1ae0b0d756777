#include "panel/widgets/about_dlg.h"

#include <QPushButton>

#include "platform/notices.h"
#include "panel/widgets/dialog_builder.h"

namespace corvane {

CAboutDlg::CAboutDlg(QWidget* owner) : QDialog(owner)
{
    const DialogTemplate* tpl = Template(100);
    if (!tpl)
        return;
    setWindowTitle(QString::fromUtf8(tpl->caption));
    const ControlMap controls = BuildDialog(*tpl, this);
    setFixedSize(size());
    if (auto* ok = Control<QPushButton>(controls, IDOK)) {
        ok->setDefault(true);
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    }
}

void ShowAboutBox(QWidget* owner)
{
    CAboutDlg dlg(owner);
    dlg.exec();
}

}  // namespace corvane
