#include <windows.h>
// after windows.h
#include <objbase.h>
#include <shellapi.h>

#include <algorithm>
#include <mutex>

#include "platform/uProcess.h"
#include "platform/uProcessShared.h"
#include "platform/uWin32Handle.h"
#include "platform/uWin32Text.h"

namespace egaiss::platform {
namespace {

struct TAttributeListDeleter {
    void operator()(LPPROC_THREAD_ATTRIBUTE_LIST list) const {
        DeleteProcThreadAttributeList(list);
        HeapFree(GetProcessHeap(), 0, list);
    }
};
using TUniqueAttributeList = std::unique_ptr<_PROC_THREAD_ATTRIBUTE_LIST, TAttributeListDeleter>;

[[noreturn]] void RaiseStartError(const std::string& program, DWORD error) {
    throw EProcessError("Cannot start " + program + ": " + Win32ErrorText(error), static_cast<int>(error));
}

// A job that ends every process in it when its last handle closes; nothing when the system refuses
// (a nested job before Windows 8), in which case only the child itself can be ended.
TUniqueHandle MakeKillJob() {
    TUniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) return {};
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
        return {};
    return job;
}

// Without an overlapped pipe the child's end and its output are looked at this often.
constexpr DWORD PollSliceMs = 50;

// The shell may hand a verb to COM handlers; it wants an apartment on the calling thread.
class TComApartment {
public:
    TComApartment()
        : FInitialised(
              SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~TComApartment() {
        if (FInitialised) CoUninitialize();
    }
    TComApartment(const TComApartment&) = delete;
    TComApartment& operator=(const TComApartment&) = delete;

private:
    bool FInitialised;
};

}  // namespace

struct TProcess::TImpl : processdetail::TChildRecord {
    TUniqueHandle Process;
    TUniqueHandle Job;
    TUniqueHandle Output;
    bool Elevated = false;

    // Reads what the pipe holds now without blocking; closes it when the writers are gone.
    void ReadAvailable() {
        char buffer[4096];
        while (Output) {
            DWORD available = 0;
            if (!PeekNamedPipe(Output.get(), nullptr, 0, nullptr, &available, nullptr)) {
                Output.reset();
                return;
            }
            if (available == 0) return;
            DWORD count = 0;
            if (!ReadFile(Output.get(), buffer, std::min<DWORD>(available, sizeof buffer), &count, nullptr) ||
                count == 0) {
                Output.reset();
                return;
            }
            Keep(buffer, count);
        }
    }

    bool Ended(DWORD waitMs) {
        {
            const std::lock_guard guard(Lock);
            if (ExitCode) return true;
        }
        if (WaitForSingleObject(Process.get(), waitMs) != WAIT_OBJECT_0) return false;
        DWORD code = 0;
        const int exitCode = GetExitCodeProcess(Process.get(), &code) ? static_cast<int>(code) : -1;
        const std::lock_guard guard(Lock);
        if (!ExitCode) ExitCode = exitCode;
        return true;
    }
};

TProcess::TProcess() : FImpl(std::make_unique<TImpl>()) {}

processdetail::TChildRecord& TProcess::Record() const {
    return *FImpl;
}

TProcess::~TProcess() {
    // Closing the handle of an elevated installer leaves it running, as the user expects.
    if (!FImpl->Elevated) Terminate();
}

bool TProcess::StartElevated(const TElevatedStart& start) {
    processdetail::CheckCanStart(Started(), start.Program);

    const std::wstring program = Utf8ToWide(start.Program);
    const std::wstring parameters = Utf8ToWide(start.Parameters);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = program.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.nShow = start.ShowWindow ? SW_SHOWNORMAL : SW_HIDE;

    const TComApartment apartment;
    if (!ShellExecuteExW(&info)) {
        const DWORD error = GetLastError();
        throw EProcessError("Cannot start " + start.Program + ": " + Win32ErrorText(error),
                            static_cast<int>(error));
    }
    FImpl->Elevated = true;
    if (info.hProcess == nullptr) return false;
    FImpl->Process.reset(info.hProcess);
    return true;
}

void TProcess::StartCaptured(const std::string& program, const std::vector<std::string>& args) {
    processdetail::CheckCanStart(Started(), program);

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) RaiseStartError(program, GetLastError());
    TUniqueHandle output(readEnd);
    TUniqueHandle childOutput(writeEnd);
    SetHandleInformation(output.get(), HANDLE_FLAG_INHERIT, 0);
    TUniqueHandle nullInput(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &inheritable, OPEN_EXISTING, 0, nullptr));
    if (nullInput.get() == INVALID_HANDLE_VALUE) RaiseStartError(program, GetLastError());

    // Only these two handles reach the child, whatever other threads hold inheritable meanwhile.
    HANDLE inherited[2] = {childOutput.get(), nullInput.get()};
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    TUniqueAttributeList attributes(
        static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(HeapAlloc(GetProcessHeap(), 0, listSize)));
    if (!attributes || !InitializeProcThreadAttributeList(attributes.get(), 1, 0, &listSize)) {
        if (attributes) HeapFree(GetProcessHeap(), 0, attributes.release());
        RaiseStartError(program, GetLastError());
    }
    if (!UpdateProcThreadAttribute(attributes.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                   sizeof inherited, nullptr, nullptr)) {
        RaiseStartError(program, GetLastError());
    }

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = nullInput.get();
    startup.StartupInfo.hStdOutput = childOutput.get();
    startup.StartupInfo.hStdError = childOutput.get();
    startup.lpAttributeList = attributes.get();

    std::wstring commandLine = QuoteArgument(Utf8ToWide(program));
    for (const auto& arg : args)
        commandLine += L" " + QuoteArgument(Utf8ToWide(arg));

    PROCESS_INFORMATION info{};
    // Suspended until it is in the job, so that nothing it starts can escape the job.
    const DWORD flags = CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT;
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                        &startup.StartupInfo, &info)) {
        RaiseStartError(program, GetLastError());
    }
    TUniqueHandle thread(info.hThread);
    FImpl->Process.reset(info.hProcess);
    FImpl->Job = MakeKillJob();
    if (FImpl->Job && !AssignProcessToJobObject(FImpl->Job.get(), info.hProcess)) FImpl->Job.reset();
    ResumeThread(thread.get());

    // The parent's copy of the write end must go, or the pipe never reports its end.
    childOutput.reset();
    FImpl->Output = std::move(output);
}

bool TProcess::WaitForExit(std::chrono::milliseconds timeout) {
    TImpl& impl = *FImpl;
    if (!impl.Process) return false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        impl.ReadAvailable();
        if (impl.Ended(0)) {
            impl.ReadAvailable();
            // An elevated child has no pipe, and two threads may be here at once.
            if (impl.Output) impl.Output.reset();
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        // Only a pipe to drain needs the short slices.
        const long long slice = impl.Output ? std::min<long long>(left.count(), PollSliceMs) : left.count();
        impl.Ended(static_cast<DWORD>(slice));
    }
}

void TProcess::Terminate() {
    TImpl& impl = *FImpl;
    if (!impl.Process || impl.Ended(0)) {
        if (impl.Output) impl.Output.reset();
        return;
    }
    if (impl.Job) {
        TerminateJobObject(impl.Job.get(), 1);
    } else {
        TerminateProcess(impl.Process.get(), 1);
    }
    impl.Ended(5000);
    if (impl.Output) impl.Output.reset();
}

bool TProcess::Started() const {
    return static_cast<bool>(FImpl->Process);
}

bool CanRunMsiPackages() {
    return true;
}

}  // namespace egaiss::platform
