#include "platform/port_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace corvane {

namespace {
struct flock WholeFile(short type)
{
    struct flock l {};
    l.l_type = type;
    l.l_whence = SEEK_SET;
    return l;  // start 0, length 0: the whole file
}
}  // namespace

std::string PortLockPath(const std::string& link) { return link + ".lock"; }

int TakePortLock(const std::string& link)
{
    const int fd = open(PortLockPath(link).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return -1;
    // A lock of the open file, not of the process: a lister testing it never takes it away.
    struct flock l = WholeFile(F_WRLCK);
    if (fcntl(fd, F_OFD_SETLK, &l) != 0) {
        close(fd);
        return -1;
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        close(fd);
        return -1;
    }
    return fd;
}

bool PortLockLeft(const std::string& link)
{
    const int fd = open(PortLockPath(link).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    struct flock l = WholeFile(F_WRLCK);
    const bool asked = fcntl(fd, F_OFD_GETLK, &l) == 0;
    close(fd);
    return asked && l.l_type == F_UNLCK;
}

}  // namespace corvane
