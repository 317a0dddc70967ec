#include <windows.h>
// windows.h maps ReplaceFile to ReplaceFileW, which would rename the definition below.
#undef ReplaceFile

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>

#include "platform/uErrors.h"
#include "platform/uFileSystem.h"
#include "platform/uPath.h"
#include "platform/uWin32Handle.h"
#include "platform/uWin32Text.h"

namespace egaiss::platform {
namespace {

[[noreturn]] void RaiseFileError(const std::string& action, const std::string& path) {
    throw EFileError(action + " " + path + ": " + Win32ErrorText(GetLastError()));
}

void CreateParentFolder(const std::string& path) {
    const auto parent = Utf8Path(path).parent_path();
    if (parent.empty()) return;
    std::error_code ignored;
    std::filesystem::create_directories(parent, ignored);
}

TUniqueHandle OpenForWriting(const std::string& path, DWORD disposition, DWORD access = GENERIC_WRITE) {
    const std::wstring widePath = Utf8ToWide(path);
    const auto open = [&] {
        return CreateFileW(widePath.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    // The folder nearly always exists (the log appends here for every line): create it only when
    // the open says it is missing.
    HANDLE handle = open();
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND) {
        CreateParentFolder(path);
        handle = open();
    }
    if (handle == INVALID_HANDLE_VALUE) RaiseFileError("Cannot open", path);
    return TUniqueHandle(handle);
}

void WriteAll(HANDLE handle, const std::string& bytes, const std::string& path) {
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - offset, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data() + offset, chunk, &written, nullptr))
            RaiseFileError("Cannot write", path);
        offset += written;
    }
}

}  // namespace

void AppendToFile(const std::string& path, const std::string& bytes) {
    // Append-only access makes the system put every write at the end as it is then: a seek to the end
    // followed by a write would overwrite what another process appended in between.
    // Threads of this process also take turns, for file systems that do not make such writes atomic
    // (network shares; Wine writes at the size it last saw).
    static std::mutex appendLock;
    const std::lock_guard turn(appendLock);
    const TUniqueHandle file = OpenForWriting(path, OPEN_ALWAYS, FILE_APPEND_DATA | SYNCHRONIZE);
    WriteAll(file.get(), bytes, path);
}

// Opened for every call: a handle kept open would stop the log from being renamed or deleted
// while the agent runs.
struct TFileAppender::TOpenFile {};

TFileAppender::TFileAppender() = default;
TFileAppender::~TFileAppender() = default;

void TFileAppender::Append(const std::string& path, const std::string& bytes) {
    AppendToFile(path, bytes);
}

void TFileAppender::Replace(const std::string& path, const std::string& temporary, const std::string& bytes) {
    WriteWholeFile(temporary, bytes);
    ReplaceFile(temporary, path);
}

// Files in the user's own data folder inherit its ACL, which already keeps other users out.
void WriteWholeFile(const std::string& path, const std::string& bytes, TFileAccess /*access*/) {
    const TUniqueHandle file = OpenForWriting(path, CREATE_ALWAYS);
    WriteAll(file.get(), bytes, path);
}

void WriteFileAtomically(const std::string& path, const std::string& bytes, TFileAccess access) {
    static thread_local std::mt19937 generator{std::random_device{}()};
    const std::string temporary = path + "." + std::to_string(generator()) + ".tmp";
    try {
        {
            const TUniqueHandle file = OpenForWriting(temporary, CREATE_NEW);
            WriteAll(file.get(), bytes, temporary);
            if (!FlushFileBuffers(file.get())) RaiseFileError("Cannot flush", temporary);
        }
        (void)access;
        ReplaceFile(temporary, path);
    } catch (...) {
        DeleteFileW(Utf8ToWide(temporary).c_str());
        throw;
    }
}

void ReplaceFile(const std::string& from, const std::string& to) {
    if (!MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        RaiseFileError("Cannot replace", to);
    }
}

struct TFileReader::THandle {
    TUniqueHandle File;
};

TFileReader::TFileReader(const std::string& path) : FPath(path) {
    TUniqueHandle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) RaiseFileError("Cannot open", path);
    FHandle = std::make_unique<THandle>(THandle{std::move(file)});
}

TFileReader::~TFileReader() = default;

std::size_t TFileReader::Read(char* buffer, std::size_t size) {
    DWORD got = 0;
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD));
    if (!ReadFile(FHandle->File.get(), buffer, wanted, &got, nullptr)) RaiseFileError("Cannot read", FPath);
    return got;
}

}  // namespace egaiss::platform
