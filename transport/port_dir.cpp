#include "transport/port_dir.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <mutex>

namespace corvane {

namespace {

// Empty when the folder is ours and closed to others; created 0700 when missing.
std::string OwnFolder(const std::string& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return path + ": " + std::strerror(errno);
        if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
            return path + ": " + std::strerror(errno);
        if (lstat(path.c_str(), &st) != 0)
            return path + ": " + std::strerror(errno);
    }
    if (!S_ISDIR(st.st_mode))
        return path + " is not a folder";
    if (st.st_uid != getuid())
        return path + " belongs to user " + std::to_string(st.st_uid) + ", not to this user";
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return path + " may be written by other users";
    return {};
}

}  // namespace

SPortDir ResolvePortDir(const std::string& tmpRoot)
{
    if (const char* dir = std::getenv("CORVANE_PORT_DIR"); dir && *dir)
        return {dir, {}};
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run)
        return {std::string(run) + "/corvane/ports", {}};
    const std::string base = tmpRoot + "/corvane-" + std::to_string(getuid());
    for (const std::string& folder : {base, base + "/ports"})
        if (std::string why = OwnFolder(folder); !why.empty())
            return {{}, "port directory refused: " + why + "; COM aliases are not used (set CORVANE_PORT_DIR "
                        "or XDG_RUNTIME_DIR to a folder of your own)"};
    return {base + "/ports", {}};
}

std::string DefaultPortDir()
{
    SPortDir dir = ResolvePortDir();
    if (!dir.error.empty()) {
        static std::once_flag said;
        std::call_once(said, [&] { std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, dir.error.c_str()); });
    }
    return dir.path;
}

}  // namespace corvane
