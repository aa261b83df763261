#include <windows.h>
//
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstring>

#include "common/log/rotating_log.h"
#include "common/process/launcher.h"
#include "updater/app/updater_seams.h"

namespace quietway {

const char* const kTrayProgramPath = "\\bin\\quietway_tray.exe";
const char* const kFirewallProgramPath = "\\bin\\quietway_firewall.exe";

namespace {

constexpr const char* kTrayImage = "quietway_tray.exe";

// ShellExecuteA reports success by a value above 32.
bool shell_start(const std::string& file, const char* parameters) {
    const HINSTANCE result =
        ShellExecuteA(nullptr, nullptr, file.c_str(), parameters, nullptr, SW_HIDE);
    const INT_PTR code = reinterpret_cast<INT_PTR>(result);
    if (code <= 32) log("cannot start %s, error %d", file.c_str(), static_cast<int>(code));
    return code > 32;
}

class WindowsProcessSide final : public ProcessSide {
public:
    bool tray_running() override {
        const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return false;
        PROCESSENTRY32 entry{};
        entry.dwSize = sizeof entry;
        bool found = false;
        for (BOOL more = Process32First(snapshot, &entry); more && !found;
             more = Process32Next(snapshot, &entry)) {
            found = _stricmp(entry.szExeFile, kTrayImage) == 0;
        }
        CloseHandle(snapshot);
        return found;
    }
    bool start_tray(const std::string& program) override {
        return run_in_user_session(program.c_str());
    }
    void kill_firewall() override {
        run_shell_command("taskkill.exe /f /IM quietway_firewall.exe");
    }
    bool start_firewall(const std::string& program) override { return shell_start(program, ""); }
    bool run_installer(const std::string& path) override {
        return shell_start(path, "/VERYSILENT");
    }
    void end_engine() override { run_shell_command("taskkill.exe /f /IM quietway_service.exe"); }
};

}  // namespace

std::unique_ptr<ProcessSide> make_system_process_side() {
    return std::make_unique<WindowsProcessSide>();
}

}  // namespace quietway
