// Writes the program's picture as hicolor theme icons: <dir>/hicolor/NxN/apps/corvane.png.
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

#include "panel/res/icons.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: corvane-icons DIR\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");  // pictures only, no display
    QGuiApplication app(argc, argv);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        if (!QDir().mkpath(dir) || !corvane::ProgramIcon(size).save(dir + QStringLiteral("/corvane.png"), "PNG")) {
            std::fprintf(stderr, "corvane-icons: cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
