#include <windows.h>

#include <dbghelp.h>
#include <rpc.h>
#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <cstdio>

#include "common/crash/crash_setup.h"
#include "common/crash/crash_upload_win.h"
#include "common/log/rotating_log.h"

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

struct HandlerState {
    const CrashSetup* setup = nullptr;
    char dump_dir[kTempPathCapacity + 1] = {};
    char id[40] = {};
    char file_name[48] = {};
    char dump_path[kTempPathCapacity + 64] = {};
    HANDLE request = nullptr;  // the crashing thread asks for a report
    HANDLE done = nullptr;     // the handler thread has finished it
    HANDLE thread = nullptr;
    DWORD handler_thread_id = 0;
    EXCEPTION_POINTERS* exception = nullptr;
    DWORD crashing_thread_id = 0;
};

HandlerState g_state;
std::atomic<DWORD> g_reporting_thread{0};

void make_dump_id() {
    UUID uuid{};
    UuidCreate(&uuid);
    std::snprintf(g_state.id, sizeof(g_state.id),
                  "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned long>(uuid.Data1), uuid.Data2, uuid.Data3, uuid.Data4[0],
                  uuid.Data4[1], uuid.Data4[2], uuid.Data4[3], uuid.Data4[4], uuid.Data4[5],
                  uuid.Data4[6], uuid.Data4[7]);
    std::snprintf(g_state.file_name, sizeof(g_state.file_name), "%s.dmp", g_state.id);
    std::snprintf(g_state.dump_path, sizeof(g_state.dump_path), "%s%s", g_state.dump_dir,
                  g_state.file_name);
}

void write_minidump() {
    HANDLE file = CreateFileA(g_state.dump_path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    MINIDUMP_EXCEPTION_INFORMATION exception{};
    exception.ThreadId = g_state.crashing_thread_id;
    exception.ExceptionPointers = g_state.exception;
    exception.ClientPointers = FALSE;
    MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal,
                      g_state.exception != nullptr ? &exception : nullptr, nullptr, nullptr);
    CloseHandle(file);
}

// Waits from installation on for the one crash it will ever report. A dump that could not be
// written is still sent for; the upload's result does not matter.
DWORD WINAPI handler_thread(void*) {
    WaitForSingleObject(g_state.request, INFINITE);
    make_dump_id();
    write_minidump();
    upload_crash_dump(*g_state.setup, g_state.dump_path, g_state.file_name, g_state.id);
    SetEvent(g_state.done);
    return 0;
}

// Hands the crash to the handler thread and waits until the report is out. A second crashing
// thread waits for good: the first one ends the process.
void report_crash(EXCEPTION_POINTERS* exception) {
    const DWORD self = GetCurrentThreadId();
    if (self == g_state.handler_thread_id) return;
    DWORD none = 0;
    if (!g_reporting_thread.compare_exchange_strong(none, self)) {
        if (none == self) return;
        Sleep(INFINITE);
    }
    g_state.exception = exception;
    g_state.crashing_thread_id = self;
    SetEvent(g_state.request);
    const HANDLE ends[] = {g_state.done, g_state.thread};
    WaitForMultipleObjects(2, ends, FALSE, INFINITE);
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

LONG WINAPI on_unhandled_exception(EXCEPTION_POINTERS* exception) {
    if (GetCurrentThreadId() == g_state.handler_thread_id) return EXCEPTION_CONTINUE_SEARCH;
    report_crash(exception);
    // The process ends with the exception's code, as without a handler.
    return EXCEPTION_EXECUTE_HANDLER;
}

// A stack overflow is reported as soon as it happens: by the time the search for a handler
// reaches the unhandled-exception filter, too little stack may be left to get there. Nothing
// in this program handles an overflow, so it is final.
LONG WINAPI on_first_chance_exception(EXCEPTION_POINTERS* exception) {
    if (exception->ExceptionRecord->ExceptionCode != kStackOverflowCode ||
        GetCurrentThreadId() == g_state.handler_thread_id) {
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
    const DWORD length = GetTempPathA(kTempPathCapacity, g_state.dump_dir);
    return length > 0 && length < kTempPathCapacity;
}

}  // namespace

bool install_platform_crash_handler(const CrashSetup& setup) {
    g_state.setup = &setup;
    if (!choose_dump_dir()) {
        log("crash reporting: no temporary directory, error %lu", GetLastError());
        return false;
    }
    g_state.request = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    g_state.done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (g_state.request != nullptr && g_state.done != nullptr) {
        g_state.thread =
            CreateThread(nullptr, 0, handler_thread, nullptr, 0, &g_state.handler_thread_id);
    }
    if (g_state.thread == nullptr) {
        log("crash reporting: cannot start the handler thread, error %lu", GetLastError());
        for (HANDLE* event : {&g_state.request, &g_state.done}) {
            if (*event != nullptr) CloseHandle(*event);
            *event = nullptr;
        }
        return false;
    }
    ULONG guarantee = kStackGuarantee;
    if (!SetThreadStackGuarantee(&guarantee)) {
        log("crash reporting: no stack kept back for overflows, error %lu", GetLastError());
    }
    AddVectoredExceptionHandler(1, on_first_chance_exception);
    SetUnhandledExceptionFilter(on_unhandled_exception);
    set_invalid_parameter_handlers();
    _set_purecall_handler(on_pure_call);
    signal(SIGABRT, on_abort_signal);
    return true;
}

}  // namespace quietway
