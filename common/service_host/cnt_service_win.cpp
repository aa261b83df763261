#include <windows.h>

#include <cstring>
#include <string>

#include "common/log/rotating_log.h"
#include "common/service_host/cnt_service.h"
#include "common/service_host/error_text.h"

namespace quietway {
namespace {

constexpr DWORD kMaxDomainName = 1024;

void WINAPI service_main_entry(DWORD argc, LPSTR* argv) {
    if (CNTService* host = CNTService::instance()) host->service_main(static_cast<int>(argc), argv);
}

void WINAPI control_entry(DWORD control) {
    if (CNTService* host = CNTService::instance()) host->control_handler(control);
}

// A copy of the SID of the named account, or an empty vector.
std::vector<unsigned char> sid_of(const char* account) {
    DWORD sid_size = 0;
    DWORD domain_size = 0;
    SID_NAME_USE use;
    LookupAccountNameA(nullptr, account, nullptr, &sid_size, nullptr, &domain_size, &use);
    if (sid_size == 0 || sid_size > SECURITY_MAX_SID_SIZE || domain_size > kMaxDomainName) {
        return {};
    }
    std::vector<unsigned char> sid(sid_size);
    std::string domain(domain_size + 1, '\0');
    if (!LookupAccountNameA(nullptr, account, sid.data(), &sid_size, domain.data(), &domain_size,
                            &use) ||
        !IsValidSid(sid.data())) {
        return {};
    }
    return sid;
}

}  // namespace

void CNTService::look_up_account() {
    char name[kMaxAccountText + 1] = {};
    DWORD size = sizeof name;
    if (GetUserNameA(name, &size)) account_name_ = name;
    log("service logged under account %s", account_name_.c_str());
    if (!account_name_.empty()) user_sid_ = sid_of(account_name_.c_str());
}

int CNTService::run_dispatcher() {
    std::string name = service_name_;
    SERVICE_TABLE_ENTRYA table[] = {{name.data(), service_main_entry}, {nullptr, nullptr}};
    if (StartServiceCtrlDispatcherA(table)) return 1;
    const uint32_t error = last_system_error();
    log_event(system_error_text(error).c_str(), kEventError);
    return 0;
}

bool CNTService::register_control_handler() {
    const SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerA(service_name_, control_entry);
    status_handle_.store(reinterpret_cast<intptr_t>(handle));
    return handle != nullptr;
}

bool CNTService::report_to_manager(const ServiceStatus& status) {
    static_assert(sizeof(SERVICE_STATUS) == sizeof(ServiceStatus));
    SERVICE_STATUS record;
    std::memcpy(&record, &status, sizeof record);
    const auto handle = reinterpret_cast<SERVICE_STATUS_HANDLE>(status_handle_.load());
    return SetServiceStatus(handle, &record) != FALSE;
}

}  // namespace quietway
