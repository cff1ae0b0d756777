#include <gtest/gtest.h>

#include <QApplication>

#include "platform/qt_ui.h"

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    corvane::ApplyPlatformLook(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
