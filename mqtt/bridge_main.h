// corvane-mqtt's command line and run: the bridge for one switcher, until a signal ends it.
// corvaned runs it when it is called by that name or given --broker.
#pragma once

namespace corvane::mqtt {

// argv[0] is the program's name; the exit status.
int BridgeMain(int argc, char** argv);

}  // namespace corvane::mqtt
