#include <windows.h>

#include <dbghelp.h>
#include <rpc.h>
#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/crash/crash_setup.h"
#include "common/log/rotating_log.h"
#include "common/os/win_handle.h"

namespace quietway {
namespace {

// What the C runtime itself ends the process with in these cases.
constexpr DWORD kInvalidParameterCode = 0xC0000417;  // STATUS_INVALID_CRUNTIME_PARAMETER
constexpr DWORD kAbortExitCode = 3;
// Exception code recorded in the dump for an abort or a pure virtual call.
constexpr DWORD kFatalAppExitCode = 0x40000015;  // STATUS_FATAL_APP_EXIT
constexpr DWORD kTempPathCapacity = 260;
// Stack kept back for the handlers when this thread's stack overflows.
constexpr ULONG kStackGuarantee = 64 * 1024;
constexpr DWORD kStackOverflowCode = 0xC00000FD;  // EXCEPTION_STACK_OVERFLOW
constexpr const char* kUploaderName = "quietway_crash_upload.exe";
// The uploader has this long; the crashing thread waits a little longer for the whole report,
// so a report stuck anywhere (a heap lock the crashing thread holds) still lets it end.
constexpr DWORD kUploadWaitMs = 60000;
constexpr DWORD kReportWaitMs = kUploadWaitMs + 30000;

// Prepared at installation and never freed: the handler lives until the process ends.
struct HandlerState {
    const CrashSetup* setup = nullptr;
    char dump_dir[kTempPathCapacity + 1] = {};
    char uploader[MAX_PATH + 1] = {};
    char id[40] = {};
    char dump_path[kTempPathCapacity + 64] = {};
    char command_line[2048] = {};
    WinHandle request;  // the crashing thread asks for a report
    WinHandle done;     // the handler thread has finished it
    WinHandle thread;
    DWORD handler_thread_id = 0;
    EXCEPTION_POINTERS* exception = nullptr;
    DWORD crashing_thread_id = 0;
    std::atomic<bool> dump_written{false};
    LPTOP_LEVEL_EXCEPTION_FILTER previous_filter = nullptr;
};

HandlerState* g_state = nullptr;
std::atomic<DWORD> g_reporting_thread{0};

void make_dump_path() {
    UUID uuid{};
    UuidCreate(&uuid);
    std::snprintf(g_state->id, sizeof(g_state->id),
                  "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned long>(uuid.Data1), uuid.Data2, uuid.Data3, uuid.Data4[0],
                  uuid.Data4[1], uuid.Data4[2], uuid.Data4[3], uuid.Data4[4], uuid.Data4[5],
                  uuid.Data4[6], uuid.Data4[7]);
    std::snprintf(g_state->dump_path, sizeof(g_state->dump_path), "%s%s.dmp", g_state->dump_dir,
                  g_state->id);
}

bool write_minidump() {
    WinHandle file(CreateFileA(g_state->dump_path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    MINIDUMP_EXCEPTION_INFORMATION exception{};
    exception.ThreadId = g_state->crashing_thread_id;
    exception.ExceptionPointers = g_state->exception;
    exception.ClientPointers = FALSE;
    return MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file.get(), MiniDumpNormal,
                             g_state->exception != nullptr ? &exception : nullptr, nullptr,
                             nullptr) != FALSE;
}

// The upload runs in a program of its own: this process's heap and WinINet state cannot be
// trusted after a crash. Every argument is quoted; none of them can hold a quote (checked at
// installation, or a path, or a validated host).
void send_from_uploader() {
    const CrashSetup& setup = *g_state->setup;
    const int length = std::snprintf(g_state->command_line, sizeof(g_state->command_line),
                                     "\"%s\" \"%s\" %u \"%s\" \"%s\" \"%s\"", g_state->uploader,
                                     setup.host, static_cast<unsigned>(setup.port), setup.product,
                                     setup.version, g_state->dump_path);
    if (length <= 0 || length >= static_cast<int>(sizeof(g_state->command_line))) return;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    if (!CreateProcessA(g_state->uploader, g_state->command_line, nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &created)) {
        return;
    }
    WinHandle process(created.hProcess);
    WinHandle thread(created.hThread);
    if (WaitForSingleObject(process.get(), kUploadWaitMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
    }
}

// Waits from installation on for the one crash it will ever report. A dump that could not be
// written is still sent for; the upload's result does not matter.
DWORD WINAPI handler_thread(void*) {
    WaitForSingleObject(g_state->request.get(), INFINITE);
    make_dump_path();
    g_state->dump_written = write_minidump();
    send_from_uploader();
    SetEvent(g_state->done.get());
    return 0;
}

// Hands the crash to the handler thread and waits, for a bounded time, until the report is
// out. Returns whether the dump was written. A second crashing thread leaves the report to the
// first, which ends the process; should that not happen in time, the second one ends it.
bool report_crash(EXCEPTION_POINTERS* exception) {
    const DWORD self = GetCurrentThreadId();
    if (self == g_state->handler_thread_id) return false;
    DWORD none = 0;
    if (!g_reporting_thread.compare_exchange_strong(none, self)) {
        if (none == self) return false;
        Sleep(2 * kReportWaitMs);
        TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    }
    g_state->exception = exception;
    g_state->crashing_thread_id = self;
    SetEvent(g_state->request.get());
    const HANDLE ends[] = {g_state->done.get(), g_state->thread.get()};
    WaitForMultipleObjects(2, ends, FALSE, kReportWaitMs);
    return g_state->dump_written;
}

// For the reports that come without an exception: the dump shows this thread where it is.
void report_here(DWORD code) {
    CONTEXT context{};
    RtlCaptureContext(&context);
    EXCEPTION_RECORD record{};
    record.ExceptionCode = code;
    record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
    record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
    EXCEPTION_POINTERS pointers{&record, &context};
    report_crash(&pointers);
}

// With the dump written the process ends with the exception's code, as without a handler;
// without it the exception goes on to the filter that was there before.
LONG WINAPI on_unhandled_exception(EXCEPTION_POINTERS* exception) {
    if (GetCurrentThreadId() == g_state->handler_thread_id) return EXCEPTION_CONTINUE_SEARCH;
    if (report_crash(exception)) return EXCEPTION_EXECUTE_HANDLER;
    if (g_state->previous_filter != nullptr) return g_state->previous_filter(exception);
    return EXCEPTION_CONTINUE_SEARCH;
}

// A stack overflow is reported as soon as it happens: by the time the search for a handler
// reaches the unhandled-exception filter, too little stack may be left to get there. Nothing
// in this program handles an overflow, so it is final.
LONG WINAPI on_first_chance_exception(EXCEPTION_POINTERS* exception) {
    if (exception->ExceptionRecord->ExceptionCode != kStackOverflowCode ||
        GetCurrentThreadId() == g_state->handler_thread_id) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    report_crash(exception);
    TerminateProcess(GetCurrentProcess(), kStackOverflowCode);
    return EXCEPTION_CONTINUE_SEARCH;
}

void __cdecl on_invalid_parameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                                  uintptr_t) {
    report_here(kInvalidParameterCode);
    TerminateProcess(GetCurrentProcess(), kInvalidParameterCode);
}

void __cdecl on_pure_call() {
    report_here(kFatalAppExitCode);
    TerminateProcess(GetCurrentProcess(), kAbortExitCode);
}

// abort() (and with it std::terminate and this compiler's own pure virtual calls) raises
// SIGABRT in the C runtime.
void __cdecl on_abort_signal(int) {
    report_here(kFatalAppExitCode);
    TerminateProcess(GetCurrentProcess(), kAbortExitCode);
}

// This compiler's runtime keeps its own handler variable that the system's C runtime DLL never
// reads, so the DLL gets the handler too where it offers a way to set it.
void set_invalid_parameter_handlers() {
    _set_invalid_parameter_handler(on_invalid_parameter);
    using Setter = _invalid_parameter_handler(__cdecl*)(_invalid_parameter_handler);
    HMODULE runtime = GetModuleHandleA("msvcrt.dll");
    if (runtime == nullptr) return;
    const auto setter = reinterpret_cast<Setter>(
        reinterpret_cast<void*>(GetProcAddress(runtime, "_set_invalid_parameter_handler")));
    if (setter != nullptr) setter(on_invalid_parameter);
}

bool choose_dump_dir() {
    const DWORD length = GetTempPathA(kTempPathCapacity, g_state->dump_dir);
    return length > 0 && length < kTempPathCapacity;
}

// The uploader is installed beside the program.
void choose_uploader() {
    char self[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string dir = ".";
    if (n > 0 && n < MAX_PATH) {
        dir.assign(self, n);
        dir.resize(dir.find_last_of("\\/") == std::string::npos ? 0 : dir.find_last_of("\\/"));
    }
    std::snprintf(g_state->uploader, sizeof(g_state->uploader), "%s\\%s", dir.c_str(),
                  kUploaderName);
    if (GetFileAttributesA(g_state->uploader) == INVALID_FILE_ATTRIBUTES) {
        log("crash reporting: %s not found, crash reports stay in %s", g_state->uploader,
            g_state->dump_dir);
    }
}

// The uploader's command line quotes each text; a quote inside one would break it.
bool quotable(const char* text) { return std::strchr(text, '"') == nullptr; }

}  // namespace

bool install_platform_crash_handler(const CrashSetup& setup) {
    if (!quotable(setup.product) || !quotable(setup.version) || !quotable(setup.host)) {
        return false;
    }
    g_state = new HandlerState;
    g_state->setup = &setup;
    if (!choose_dump_dir()) {
        log("crash reporting: no temporary directory, error %lu", GetLastError());
        delete g_state;
        g_state = nullptr;
        return false;
    }
    choose_uploader();
    g_state->request.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    g_state->done.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (g_state->request.valid() && g_state->done.valid()) {
        g_state->thread.reset(
            CreateThread(nullptr, 0, handler_thread, nullptr, 0, &g_state->handler_thread_id));
    }
    if (!g_state->thread.valid()) {
        log("crash reporting: cannot start the handler thread, error %lu", GetLastError());
        delete g_state;
        g_state = nullptr;
        return false;
    }
    ULONG guarantee = kStackGuarantee;
    if (!SetThreadStackGuarantee(&guarantee)) {
        log("crash reporting: no stack kept back for overflows, error %lu", GetLastError());
    }
    AddVectoredExceptionHandler(1, on_first_chance_exception);
    g_state->previous_filter = SetUnhandledExceptionFilter(on_unhandled_exception);
    set_invalid_parameter_handlers();
    _set_purecall_handler(on_pure_call);
    signal(SIGABRT, on_abort_signal);
    return true;
}

}  // namespace quietway
