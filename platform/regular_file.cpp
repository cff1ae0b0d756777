#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace corvane {

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

}  // namespace corvane
