#include <gtest/gtest.h>

#include <QApplication>

#include "panel/widgets/qt_ui.h"
#include "panel/widgets/accessible_window.h"

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    corvane::InstallAccessibleWindows();  // as the program does, before the application object
    QApplication app(argc, argv);
    corvane::ApplyPlatformLook(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
