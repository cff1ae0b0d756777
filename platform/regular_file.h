// Reading a file the operator picked (an EDID, a firmware image) that must be a regular file,
// never more of it than a limit. Nothing here blocks or acts on a device: the path is looked at
// before it is opened (opening a FIFO waits for a writer, opening a device may act on it),
// opened non-blocking, and looked at again once open (the path may have changed in between).
// And writing a whole file, in place or by replacing it at once.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace corvane {

enum class RegularFileError {
    None,
    CannotOpen,  // missing, no permission, or not examinable (OsError)
    NotRegular,  // a directory, FIFO, device or socket (Mode): never opened or never read
    ReadFailed,  // reading stopped with an error (OsError)
    TooLarge,    // ReadRegularFile only: more bytes than its limit
};

class CRegularFile {
public:
    // Opens the file at path for reading if it is a regular file; Error() says why not.
    explicit CRegularFile(const std::string& path);
    ~CRegularFile();
    CRegularFile(const CRegularFile&) = delete;
    CRegularFile& operator=(const CRegularFile&) = delete;

    RegularFileError Error() const { return m_error; }
    int OsError() const { return m_osError; }
    // The type bits of what the path named, also when it is not a regular file.
    mode_t Mode() const { return m_mode; }
    // The length the file reported when opened (0 for many files under /proc).
    uint64_t ReportedSize() const { return m_reportedSize; }

    // Reads on until the end of the file or limit bytes, whatever the reported length said (the
    // file may grow or shrink meanwhile). ReadFailed (OsError) on an error; out is then left alone.
    RegularFileError Read(std::size_t limit, std::vector<uint8_t>& out);

private:
    int m_fd = -1;
    RegularFileError m_error = RegularFileError::None;
    int m_osError = 0;
    mode_t m_mode = 0;
    uint64_t m_reportedSize = 0;
};

// The whole of a regular file of at most maxBytes. Opening never blocks (a FIFO without a
// writer, a terminal) and at most maxBytes + 1 bytes are ever read. out is left alone unless the
// file is read; after CannotOpen and ReadFailed, errno holds the system's reason.
RegularFileError ReadRegularFile(const std::string& path, std::size_t maxBytes, std::vector<uint8_t>& out);

// Writes the whole file, replacing what it held; false with error ("PATH: reason") on any failure.
bool WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes, std::string& error);
// Writes the bytes under a temporary name beside path, flushes them to the disk, then renames
// that file over path: a reader never sees half a file and a failed write leaves the old one.
// false with why ("PATH: reason") on any failure, and no temporary file left behind.
bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes, std::string& why);

}  // namespace corvane
