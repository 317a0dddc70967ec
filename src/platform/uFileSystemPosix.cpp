#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string_view>
#include <utility>

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

namespace {

// Changes to the names in a folder as inotify reports them: whether the log's path may name
// another file now costs one read that nearly always finds nothing, where a stat would look up
// every part of the path for every line.
class TFolderWatch {
public:
    explicit TFolderWatch(const std::string& folder) : FEvents(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        constexpr std::uint32_t NameEvents =
            IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
        if (FEvents.Valid() && ::inotify_add_watch(FEvents.Get(), folder.c_str(), NameEvents) < 0) {
            FEvents.Reset();
        }
    }

    // False when the system gave no watch (its limit reached); every question is then "maybe".
    bool Valid() const { return FEvents.Valid(); }

    // True when, since the last call, the entry `name` may have been created, deleted or renamed,
    // or the folder itself went away. Lost events count as such a change.
    bool MayHaveChanged(std::string_view name) {
        if (!Valid()) return true;
        bool changed = false;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(FEvents.Get(), buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return changed || errno != EAGAIN;
            if (got == 0) return true;
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                const bool folderGone =
                    (event->mask & (IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0;
                if (folderGone || (event->len > 0 && name == event->name)) changed = true;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

private:
    TUniqueFd FEvents;
};

std::string FolderOf(const std::string& path) {
    const std::string folder = PathUtf8(Utf8Path(path).parent_path());
    return folder.empty() ? "." : folder;
}

}  // namespace

// An open log file and the watch on its folder. A watch set up before the file was opened has
// seen every change since; one set up after it (the open had to create the folder) is trusted
// only once a lookup by name has confirmed the file.
struct TFileAppender::TOpenFile {
    TOpenFile(const std::string& path, TFolderWatch watch, TUniqueFd file, bool watchedBeforeOpen)
        : Path(path),
          Name(PathUtf8(Utf8Path(path).filename())),
          Watch(std::move(watch)),
          File(std::move(file)),
          Confirmed(watchedBeforeOpen) {
        if (::fstat(File.Get(), &Identity) != 0) RaiseFileError("Cannot inspect", path, errno);
    }

    bool StillNamedBy(const std::string& path) {
        if (path != Path) return false;
        if (Confirmed && !Watch.MayHaveChanged(Name)) return true;
        struct stat current {};
        Confirmed = ::stat(path.c_str(), &current) == 0 && SameFile(current, Identity);
        return Confirmed;
    }

    std::string Path;
    std::string Name;
    TFolderWatch Watch;
    TUniqueFd File;
    bool Confirmed;
    struct stat Identity {};
};

TFileAppender::TFileAppender() = default;
TFileAppender::~TFileAppender() = default;

void TFileAppender::Append(const std::string& path, const std::string& bytes) {
    if (!FOpen || !FOpen->StillNamedBy(path)) {
        FOpen.reset();
        TFolderWatch watch(FolderOf(path));
        const bool watchedBeforeOpen = watch.Valid();
        TUniqueFd file(OpenCreatingFolder(path, AppendFlags, AppendMode));
        if (!watchedBeforeOpen) watch = TFolderWatch(FolderOf(path));
        FOpen = std::make_unique<TOpenFile>(path, std::move(watch), std::move(file), watchedBeforeOpen);
    }
    try {
        WriteAll(FOpen->File.Get(), bytes, path);
    } catch (...) {
        FOpen.reset();
        throw;
    }
}

void TFileAppender::Replace(const std::string& path, const std::string& temporary, const std::string& bytes) {
    FOpen.reset();
    TFolderWatch watch(FolderOf(path));
    TUniqueFd file(OpenCreatingFolder(temporary, AppendFlags | O_TRUNC, AppendMode));
    WriteAll(file.Get(), bytes, temporary);
    const bool watched = watch.Valid();
    auto replaced = std::make_unique<TOpenFile>(path, std::move(watch), std::move(file), watched);
    ReplaceFile(temporary, path);
    FOpen = std::move(replaced);
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

struct TFileReader::THandle {
    TUniqueFd File;
};

TFileReader::TFileReader(const std::string& path) : FPath(path) {
    TUniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) RaiseFileError("Cannot open", path, errno);
    FHandle = std::make_unique<THandle>(THandle{std::move(file)});
}

TFileReader::~TFileReader() = default;

std::size_t TFileReader::Read(char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(FHandle->File.Get(), buffer, size);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) RaiseFileError("Cannot read", FPath, errno);
    }
}

}  // namespace egaiss::platform
