#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/uErrors.h"
#include "platform/uFileSystem.h"
#include "platform/uPath.h"

namespace egaiss::platform {
namespace {

[[noreturn]] void RaiseFileError(const std::string& action, const std::string& path, int error) {
    throw EFileError(action + " " + path + ": " + std::strerror(error));
}

// Owns a POSIX file descriptor.
class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd) : FFd(fd) {}
    ~TFileDescriptor() {
        if (FFd >= 0) ::close(FFd);
    }
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    int Get() const { return FFd; }
    // Closes now so that a failing close (lost write on a network drive) is reported.
    int Close() {
        const int result = ::close(FFd);
        FFd = -1;
        return result;
    }

private:
    int FFd;
};

void CreateParentFolder(const std::string& path) {
    const auto parent = Utf8Path(path).parent_path();
    if (parent.empty()) return;
    std::error_code error;
    std::filesystem::create_directories(parent, error);
}

void WriteAll(int fd, const std::string& bytes, const std::string& path) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            RaiseFileError("Cannot write", path, errno);
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

mode_t ModeOf(TFileAccess access) { return access == TFileAccess::faOwnerOnly ? 0600 : 0644; }

void WriteToDescriptor(const std::string& path, int flags, mode_t mode, const std::string& bytes) {
    // The folder nearly always exists (the log appends here for every line): create it only when
    // the open says it is missing.
    int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    if (fd < 0 && errno == ENOENT) {
        CreateParentFolder(path);
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    }
    TFileDescriptor file(fd);
    if (file.Get() < 0) RaiseFileError("Cannot open", path, errno);
    WriteAll(file.Get(), bytes, path);
    if (file.Close() != 0) RaiseFileError("Cannot close", path, errno);
}

std::string UniqueSiblingName(const std::string& path) {
    static thread_local std::mt19937 generator{std::random_device{}()};
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(generator()));
    return path + suffix;
}

}  // namespace

void AppendToFile(const std::string& path, const std::string& bytes) {
    WriteToDescriptor(path, O_WRONLY | O_CREAT | O_APPEND, 0644, bytes);
}

void WriteWholeFile(const std::string& path, const std::string& bytes, TFileAccess access) {
    WriteToDescriptor(path, O_WRONLY | O_CREAT | O_TRUNC, ModeOf(access), bytes);
    if (access == TFileAccess::faOwnerOnly) ::chmod(path.c_str(), 0600);
}

void WriteFileAtomically(const std::string& path, const std::string& bytes, TFileAccess access) {
    const std::string temporary = UniqueSiblingName(path);
    try {
        CreateParentFolder(path);
        TFileDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ModeOf(access)));
        if (file.Get() < 0) RaiseFileError("Cannot create", temporary, errno);
        WriteAll(file.Get(), bytes, temporary);
        if (::fsync(file.Get()) != 0) RaiseFileError("Cannot flush", temporary, errno);
        if (file.Close() != 0) RaiseFileError("Cannot close", temporary, errno);
        ReplaceFile(temporary, path);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

void ReplaceFile(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) RaiseFileError("Cannot replace", to, errno);
}

std::string ReadWholeFile(const std::string& path) {
    TFileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) RaiseFileError("Cannot open", path, errno);
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            RaiseFileError("Cannot read", path, errno);
        }
        if (got == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

}  // namespace egaiss::platform
