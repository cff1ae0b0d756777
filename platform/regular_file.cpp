#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace corvane {

namespace {

// Closes the descriptor however the function leaves.
class CFile {
public:
    explicit CFile(int fd) : m_fd(fd) {}
    ~CFile()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    int Get() const { return m_fd; }
    // Closes it now, for close's own verdict: 0, or the errno of the failure.
    int Close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return close(fd) == 0 ? 0 : errno;
    }

private:
    int m_fd;
};

// Every byte, or the errno that stopped the writing.
int WriteAll(int fd, std::span<const uint8_t> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace

CRegularFile::CRegularFile(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        m_error = RegularFileError::CannotOpen;
        m_osError = errno;
        return;
    }
    m_mode = st.st_mode & S_IFMT;
    if (!S_ISREG(st.st_mode)) {
        m_error = RegularFileError::NotRegular;
        return;
    }
    // Looked at once more on the descriptor: the path may name something else since stat.
    m_fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0 || fstat(m_fd, &st) != 0) {
        m_error = RegularFileError::CannotOpen;
        m_osError = errno;
        return;
    }
    m_mode = st.st_mode & S_IFMT;
    if (!S_ISREG(st.st_mode)) {
        m_error = RegularFileError::NotRegular;
        return;
    }
    m_reportedSize = static_cast<uint64_t>(std::max<off_t>(st.st_size, 0));
}

CRegularFile::~CRegularFile()
{
    if (m_fd >= 0)
        close(m_fd);
}

RegularFileError CRegularFile::Read(std::size_t limit, std::vector<uint8_t>& out)
{
    if (m_error != RegularFileError::None)
        return m_error;
    std::vector<uint8_t> bytes(limit);
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = read(m_fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            m_osError = errno;
            return RegularFileError::ReadFailed;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    out = std::move(bytes);
    return RegularFileError::None;
}

RegularFileError ReadRegularFile(const std::string& path, std::size_t maxBytes, std::vector<uint8_t>& out)
{
    CRegularFile file(path);
    if (file.Error() == RegularFileError::None && file.ReportedSize() > maxBytes)
        return RegularFileError::TooLarge;
    std::vector<uint8_t> bytes;
    if (const RegularFileError e = file.Read(maxBytes + 1, bytes); e != RegularFileError::None) {
        errno = file.OsError();
        return e;
    }
    if (bytes.size() > maxBytes)
        return RegularFileError::TooLarge;
    out = std::move(bytes);
    return RegularFileError::None;
}

bool WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes, std::string& error)
{
    CFile f(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC, 0644));
    if (f.Get() < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    int e = WriteAll(f.Get(), bytes);
    if (const int closed = f.Close(); e == 0)
        e = closed;
    if (e != 0) {
        error = path + ": " + std::strerror(e);
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes, std::string& why)
{
    const std::string part = path + ".part-" + std::to_string(getpid());
    // O_EXCL: never write through a link someone left under the temporary name.
    CFile f(open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666));
    if (f.Get() < 0) {
        why = part + ": " + std::strerror(errno);
        return false;
    }
    int e = WriteAll(f.Get(), bytes);
    if (e == 0 && fsync(f.Get()) != 0)
        e = errno;
    if (const int closed = f.Close(); e == 0)
        e = closed;
    if (e == 0 && rename(part.c_str(), path.c_str()) != 0)
        e = errno;
    if (e != 0) {
        unlink(part.c_str());
        why = path + ": " + std::strerror(e);
        return false;
    }
    return true;
}

}  // namespace corvane
