#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/os/reg_key_win.h"
#include "common/service_host/cnt_service.h"
#include "common/service_host/error_text.h"
#include "common/service_host/multi_string.h"

namespace quietway {
namespace {

constexpr const char* kApplicationLogKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
// A "Sources" list larger than this is not touched.
constexpr DWORD kMaxSourcesBytes = 256 * 1024;

std::string source_key(const char* service_name) {
    return std::string(kApplicationLogKey) + "\\" + service_name;
}

bool read_sources(HKEY key, DWORD& type, std::vector<std::string>& sources) {
    DWORD size = 0;
    if (RegQueryValueExA(key, "Sources", nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        return false;
    }
    if (size > kMaxSourcesBytes) return false;
    std::vector<char> data(size + 2, '\0');
    if (RegQueryValueExA(key, "Sources", nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size) != ERROR_SUCCESS) {
        return false;
    }
    sources = parse_multi_string(data.data(), size);
    return true;
}

bool write_sources(HKEY key, DWORD type, const std::vector<std::string>& sources) {
    const std::string data = build_multi_string(sources);
    return RegSetValueExA(key, "Sources", 0, type, reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

}  // namespace

void CNTService::add_event_source(const char* message_file, uint32_t types) {
    RegKey source;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, source_key(service_name_).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, source.receive(),
                        nullptr) != ERROR_SUCCESS) {
        log("cannot create the event source key of %s", service_name_);
        return;
    }
    RegSetValueExA(source.get(), "EventMessageFile", 0, REG_EXPAND_SZ,
                   reinterpret_cast<const BYTE*>(message_file),
                   static_cast<DWORD>(std::strlen(message_file) + 1));
    const DWORD supported = types;
    RegSetValueExA(source.get(), "TypesSupported", 0, REG_DWORD,
                   reinterpret_cast<const BYTE*>(&supported), sizeof supported);

    RegKey application;
    if (!application.open(kApplicationLogKey, KEY_ALL_ACCESS)) return;
    DWORD type = REG_MULTI_SZ;
    std::vector<std::string> sources;
    // A missing list stays missing.
    if (!read_sources(application.get(), type, sources)) return;
    if (contains_name(sources, service_name_)) return;
    sources.emplace_back(service_name_);
    write_sources(application.get(), type, sources);
}

void CNTService::remove_event_source() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, source_key(service_name_).c_str());
    RegKey application;
    if (!application.open(kApplicationLogKey, KEY_ALL_ACCESS)) return;
    DWORD type = REG_MULTI_SZ;
    std::vector<std::string> sources;
    if (!read_sources(application.get(), type, sources)) return;
    if (remove_name(sources, service_name_)) write_sources(application.get(), type, sources);
}

void CNTService::log_event(const char* message, uint16_t type, int32_t id) {
    last_error_.store(last_system_error());
    const HandleOwner<HANDLE, &DeregisterEventSource> source(
        RegisterEventSourceA(nullptr, service_name_));
    if (!source) return;
    const char* strings[] = {message};
    ReportEventA(source.get(), type, 0, static_cast<DWORD>(event_id_for(type, id)),
                 user_sid_.empty() ? nullptr : user_sid_.data(), 1, 0, strings, nullptr);
}

}  // namespace quietway
