#include "support/firefox_launch_win.h"

#include <utility>
#include <vector>

namespace firefox {

namespace {

// A pipe whose one end the host inherits; the other end stays here, not inheritable.
bool MakePipe(HANDLE& hostEnd, HANDLE& ourEnd, bool hostReads) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, &inheritable, 0)) {
        return false;
    }
    hostEnd = hostReads ? read : write;
    ourEnd = hostReads ? write : read;
    SetHandleInformation(ourEnd, HANDLE_FLAG_INHERIT, 0);
    return true;
}

std::wstring FolderOf(const std::wstring& path) {
    const auto separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring(L".") : path.substr(0, separator);
}

// The host inherits its three pipe ends and nothing else of ours.
struct InheritedHandles {
    explicit InheritedHandles(std::vector<HANDLE> inherited) : handles(std::move(inherited)) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage.resize(size);
        list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
        InitializeProcThreadAttributeList(list, 1, 0, &size);
        UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                  handles.size() * sizeof(HANDLE), nullptr, nullptr);
    }
    ~InheritedHandles() { DeleteProcThreadAttributeList(list); }

    std::vector<HANDLE> handles;
    std::vector<char> storage;
    LPPROC_THREAD_ATTRIBUTE_LIST list = nullptr;
};

bool PutIntoJob(NativeHost& host, HANDLE thread, DWORD jobLimits) {
    host.job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = jobLimits;
    return host.job != nullptr &&
           SetInformationJobObject(host.job, JobObjectExtendedLimitInformation, &limits,
                                   sizeof limits) &&
           AssignProcessToJobObject(host.job, host.process) && ResumeThread(thread) != DWORD(-1);
}

void CloseIfOpen(HANDLE& handle) {
    if (handle != nullptr) {
        CloseHandle(handle);
        handle = nullptr;
    }
}

}  // namespace

bool StartNativeHost(const std::wstring& program, const std::wstring& arguments, DWORD jobLimits,
                     NativeHost& host, Inheritance inheritance) {
    HANDLE input = nullptr;
    HANDLE output = nullptr;
    HANDLE error = nullptr;
    if (!MakePipe(input, host.input, true) || !MakePipe(output, host.output, false) ||
        !MakePipe(error, host.error, false)) {
        return false;
    }
    InheritedHandles inherited({input, output, error});
    const bool everything = inheritance == Inheritance::kEverything;
    HANDLE outputWatch = nullptr;
    if (everything) {
        DuplicateHandle(GetCurrentProcess(), output, GetCurrentProcess(), &outputWatch, 0, TRUE,
                        DUPLICATE_SAME_ACCESS);
    }
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = output;
    startup.StartupInfo.hStdError = error;
    startup.lpAttributeList = everything ? nullptr : inherited.list;
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    const std::wstring folder = FolderOf(program);
    PROCESS_INFORMATION info{};
    const BOOL created =
        CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                       CREATE_NO_WINDOW | CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT |
                           (everything ? 0 : EXTENDED_STARTUPINFO_PRESENT),
                       nullptr, folder.c_str(), &startup.StartupInfo, &info);
    const DWORD createError = GetLastError();
    for (HANDLE hostEnd : {input, output, error, outputWatch}) {
        CloseIfOpen(hostEnd);
    }
    if (!created) {
        SetLastError(createError);
        return false;
    }
    host.process = info.hProcess;
    host.processId = info.dwProcessId;
    const bool running = PutIntoJob(host, info.hThread, jobLimits);
    CloseHandle(info.hThread);
    if (!running) {
        TerminateProcess(host.process, kKilledExitCode);
    }
    return running;
}

// A host still running after the wait ends with its job, as Firefox kills it.
void CloseNativeHost(NativeHost& host) {
    CloseIfOpen(host.input);
    WaitForSingleObject(host.process, kEndWaitMs);
    TerminateHostJob(host);
}

void TerminateHostJob(NativeHost& host) {
    if (host.job != nullptr) {
        TerminateJobObject(host.job, kKilledExitCode);
    }
}

void ReleaseNativeHost(NativeHost& host) {
    for (HANDLE* handle : {&host.input, &host.output, &host.error, &host.process, &host.job}) {
        CloseIfOpen(*handle);
    }
}

}  // namespace firefox
