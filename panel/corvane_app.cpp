#include "panel/corvane_app.h"

#include <QApplication>

#include "panel/corvane_dlg.h"
#include "panel/page_factories.h"
#include "panel/qt_serial_port.h"
#include "transport/qt_timers.h"
#include "panel/widgets/qt_ui.h"
#include "panel/widgets/accessible_window.h"
#include "panel/widgets/qt_notices.h"

namespace corvane {

CCorvaneApp::CCorvaneApp(int& argc, char** argv)
{
    InstallAccessibleWindows();  // before the application object, whose interface is made once
    m_app = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationName(QStringLiteral("corvane"));
    ApplyPlatformLook(*m_app);
    m_timers = std::make_unique<CQtTimers>();
}

CCorvaneApp::~CCorvaneApp() = default;

int CCorvaneApp::Run()
{
    int code = 0;
    {
        CQtNotices notices(*m_timers);
        CCorvaneDlg dlg(std::make_unique<CQtSerialPort>(), *m_timers, notices);
        notices.SetOwner(&dlg);
        RegisterPages(dlg);
        dlg.show();
        code = QApplication::exec();
    }
    return code;
}

}  // namespace corvane
