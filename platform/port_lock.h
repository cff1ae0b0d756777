// The lock an emulator keeps beside its port link (comN.lock, naming its pid): held while it
// runs, released by the system however it ends. A link whose lock file no live process holds
// was left by an emulator that was killed, whatever its target has become since.
#pragma once

#include <string>

namespace corvane {

std::string PortLockPath(const std::string& link);

// The lock of link, taken and left holding the caller's pid: the descriptor that holds it
// (closed, it is released), or -1 when another process holds it or the file cannot be made.
int TakePortLock(const std::string& link);

// Whether link's lock file is there and nobody holds it: the link is a killed emulator's.
bool PortLockLeft(const std::string& link);

}  // namespace corvane
