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
#include "platform/uPosixFd.h"

namespace egaiss::platform {
namespace {

[[noreturn]] void RaiseFileError(const std::string& action, const std::string& path, int error) {
    throw EFileError(action + " " + path + ": " + std::strerror(error));
}

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

mode_t ModeOf(TFileAccess access) {
    return access == TFileAccess::faOwnerOnly ? 0600 : 0644;
}

// The folder nearly always exists (the log appends there for every line): it is created only
// when the open says it is missing.
int OpenCreatingFolder(const std::string& path, int flags, mode_t mode) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    if (fd < 0 && errno == ENOENT) {
        CreateParentFolder(path);
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    }
    if (fd < 0) RaiseFileError("Cannot open", path, errno);
    return fd;
}

constexpr int AppendFlags = O_WRONLY | O_CREAT | O_APPEND;
constexpr mode_t AppendMode = 0644;

void WriteToDescriptor(const std::string& path, int flags, mode_t mode, const std::string& bytes) {
    TUniqueFd file(OpenCreatingFolder(path, flags, mode));
    WriteAll(file.Get(), bytes, path);
    if (file.Close() != 0) RaiseFileError("Cannot close", path, errno);
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string UniqueSiblingName(const std::string& path) {
    static thread_local std::mt19937 generator{std::random_device{}()};
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(generator()));
    return path + suffix;
}

}  // namespace

void AppendToFile(const std::string& path, const std::string& bytes) {
    WriteToDescriptor(path, AppendFlags, AppendMode, bytes);
}

struct TFileAppender::TOpenFile {
    TOpenFile(const std::string& path, int fd) : Path(path), File(fd) {
        if (::fstat(fd, &Identity) != 0) RaiseFileError("Cannot inspect", path, errno);
    }
    // One lookup by name instead of an open and a close per call.
    bool StillNamedBy(const std::string& path) const {
        struct stat current {};
        return path == Path && ::stat(path.c_str(), &current) == 0 && SameFile(current, Identity);
    }

    std::string Path;
    TUniqueFd File;
    struct stat Identity {};
};

TFileAppender::TFileAppender() = default;
TFileAppender::~TFileAppender() = default;

void TFileAppender::Append(const std::string& path, const std::string& bytes) {
    if (!FOpen || !FOpen->StillNamedBy(path)) {
        FOpen.reset();
        FOpen = std::make_unique<TOpenFile>(path, OpenCreatingFolder(path, AppendFlags, AppendMode));
    }
    try {
        WriteAll(FOpen->File.Get(), bytes, path);
    } catch (...) {
        FOpen.reset();
        throw;
    }
}

void WriteWholeFile(const std::string& path, const std::string& bytes, TFileAccess access) {
    WriteToDescriptor(path, O_WRONLY | O_CREAT | O_TRUNC, ModeOf(access), bytes);
    if (access == TFileAccess::faOwnerOnly) ::chmod(path.c_str(), 0600);
}

void WriteFileAtomically(const std::string& path, const std::string& bytes, TFileAccess access) {
    const std::string temporary = UniqueSiblingName(path);
    try {
        CreateParentFolder(path);
        TUniqueFd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ModeOf(access)));
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
    TUniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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
