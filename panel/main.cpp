#include <cstdio>
#include <cstring>

#include "panel/corvane_app.h"

int main(int argc, char** argv)
{
    // Answered before any window or display is needed.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("corvane " CORVANE_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::puts("Usage: corvane [Qt options]\n"
                      "The control panel of the 4x2 HDMI matrix switcher: connect over a serial port or\n"
                      "over Ethernet, route inputs to outputs, manage EDIDs, upgrade the firmware.\n"
                      "\n"
                      "  --help      this text\n"
                      "  --version   the version\n"
                      "\n"
                      "Serial ports are listed as COM numbers; see corvane(1) for the numbering.");
            return 0;
        }
    }
    corvane::CCorvaneApp app(argc, argv);
    return app.Run();
}
