// The port directory: where comN aliases name the device node a COM number opens. Whoever can
// write in it decides which tty the panel talks to, so a folder in /tmp is used only when it is
// this user's own.
#pragma once

#include <string>

namespace corvane {

struct SPortDir {
    std::string path;   // empty when there is none to use
    std::string error;  // why not, for one line to the operator
};

// $CORVANE_PORT_DIR, else $XDG_RUNTIME_DIR/corvane/ports, else /tmp/corvane-<uid>/ports. The
// last is created with mode 0700 where missing, and refused unless it and its parent are real
// folders owned by this user that no group or other user may write. tmpRoot stands in for /tmp
// in tests.
SPortDir ResolvePortDir(const std::string& tmpRoot = "/tmp");

// ResolvePortDir's path; a refusal is said once on standard error and gives "".
std::string DefaultPortDir();

}  // namespace corvane
