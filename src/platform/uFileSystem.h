#pragma once
// File operations whose details differ between systems: sharing modes, private files and
// replacing a file in one step.
#include <cstddef>
#include <memory>
#include <string>

namespace egaiss::platform {

enum class TFileAccess {
    faShared,     // readable by others as the system's defaults allow
    faOwnerOnly,  // only the current user may read it (0600 on POSIX)
};

// Appends bytes to a file, creating it (and its folder) when missing. Others may read and write
// the file meanwhile. Raises EFileError.
void AppendToFile(const std::string& path, const std::string& bytes);

// Appends to a file named anew for every call, like AppendToFile, but may keep it open between
// calls: the file is reused only while the path still names the same file, so a log renamed,
// deleted or replaced by someone else is reopened by its path at the next call. Not thread-safe;
// the owner serialises calls. Raises EFileError.
class TFileAppender {
public:
    TFileAppender();
    ~TFileAppender();
    TFileAppender(const TFileAppender&) = delete;
    TFileAppender& operator=(const TFileAppender&) = delete;

    void Append(const std::string& path, const std::string& bytes);
    // Writes the bytes to `temporary` and renames it over `path` in one step; later appends to
    // `path` go to the new file without opening it again where the system allows. On failure
    // `temporary` may be left behind for the caller to remove.
    void Replace(const std::string& path, const std::string& temporary, const std::string& bytes);

private:
    struct TOpenFile;
    std::unique_ptr<TOpenFile> FOpen;
};

// Creates or truncates the file and writes the bytes. Raises EFileError.
void WriteWholeFile(const std::string& path, const std::string& bytes,
                    TFileAccess access = TFileAccess::faShared);

// Writes the bytes to a temporary file beside `path` and renames it over `path` in one step, so
// that a crash leaves either the old or the new file, never half of one. Raises EFileError.
void WriteFileAtomically(const std::string& path, const std::string& bytes,
                         TFileAccess access = TFileAccess::faShared);

// Renames `from` over `to`, replacing `to` when it exists, in one step. Raises EFileError.
void ReplaceFile(const std::string& from, const std::string& to);

// Reads a file from its start in pieces, shared with writers, so that a large file need not be
// held whole. Raises EFileError.
class TFileReader {
public:
    explicit TFileReader(const std::string& path);
    ~TFileReader();
    TFileReader(const TFileReader&) = delete;
    TFileReader& operator=(const TFileReader&) = delete;

    // Up to `size` further bytes into `buffer`; 0 at the end of the file.
    std::size_t Read(char* buffer, std::size_t size);

private:
    struct THandle;
    std::unique_ptr<THandle> FHandle;
    std::string FPath;
};

// Reads a whole file, shared with writers. Raises EFileError.
std::string ReadWholeFile(const std::string& path);

}  // namespace egaiss::platform
