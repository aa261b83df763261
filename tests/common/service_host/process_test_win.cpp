// The Windows host through Wine's service control manager: install, start, interrogate, stop
// and removal, the stop-pending report, and the event source registration in HKLM.
#include <windows.h>

#include <algorithm>

#include "common/os/reg_key_win.h"
#include "common/os/sc_handle_win.h"
#include "common/service_host/multi_string.h"
#include "common/service_host/quietway_service.h"
#include "tests/common/service_host/process_test.h"

namespace quietway::testing {
namespace {

constexpr const char* kApplicationLogKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";

std::string windows_path(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

struct ServiceConfig {
    bool found = false;
    DWORD service_type = 0, start_type = 0, error_control = 0;
    std::string binary_path, start_name, display_name;
};

ServiceConfig query_config(const char* name) {
    ServiceConfig result;
    const ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    const ScHandle service(manager ? OpenServiceA(manager.get(), name, SERVICE_QUERY_CONFIG)
                                   : nullptr);
    std::vector<char> buffer(8192);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (!service ||
        !QueryServiceConfigA(service.get(), config, static_cast<DWORD>(buffer.size()), &needed)) {
        return result;
    }
    result.found = true;
    result.service_type = config->dwServiceType;
    result.start_type = config->dwStartType;
    result.error_control = config->dwErrorControl;
    result.binary_path = config->lpBinaryPathName ? config->lpBinaryPathName : "";
    result.start_name = config->lpServiceStartName ? config->lpServiceStartName : "";
    result.display_name = config->lpDisplayName ? config->lpDisplayName : "";
    return result;
}

// Queries the status, or sends a control and returns the status the control reported.
bool service_status(const char* name, SERVICE_STATUS& status, DWORD control = 0) {
    const ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    const ScHandle service(
        manager ? OpenServiceA(manager.get(), name,
                               SERVICE_QUERY_STATUS | SERVICE_STOP | SERVICE_INTERROGATE)
                : nullptr);
    if (!service) return false;
    return control == 0 ? QueryServiceStatus(service.get(), &status) != FALSE
                        : ControlService(service.get(), control, &status) != FALSE;
}

bool service_exists(const char* name) { return query_config(name).found; }

DWORD current_state(const char* name) {
    SERVICE_STATUS status{};
    return service_status(name, status) ? status.dwCurrentState : 0;
}

bool read_value(const std::string& key, const char* name, DWORD& type, std::string& data) {
    RegKey handle;
    char buffer[8192];
    DWORD size = sizeof buffer;
    if (!handle.open(key.c_str(), KEY_READ) ||
        RegQueryValueExA(handle.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                         &size) != ERROR_SUCCESS) {
        return false;
    }
    data.assign(buffer, size);
    return true;
}

bool key_exists(const std::string& key) { return RegKey().open(key.c_str(), KEY_READ); }

// The event log's "Sources" list, which the tests set up and restore.
class SourcesValue {
public:
    SourcesValue() {
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kApplicationLogKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, key_.receive(), nullptr);
        DWORD type = 0;
        had_value_ = read_value(kApplicationLogKey, "Sources", type, saved_);
    }
    ~SourcesValue() {
        if (had_value_) {
            RegSetValueExA(key_.get(), "Sources", 0, REG_MULTI_SZ,
                           reinterpret_cast<const BYTE*>(saved_.data()),
                           static_cast<DWORD>(saved_.size()));
        } else {
            RegDeleteValueA(key_.get(), "Sources");
        }
    }

    void set(const std::vector<std::string>& strings) {
        const std::string data = build_multi_string(strings);
        RegSetValueExA(key_.get(), "Sources", 0, REG_MULTI_SZ,
                       reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
    }
    void remove() { RegDeleteValueA(key_.get(), "Sources"); }

    bool get(std::vector<std::string>& strings) const {
        DWORD type = 0;
        std::string data;
        if (!read_value(kApplicationLogKey, "Sources", type, data) || type != REG_MULTI_SZ) {
            return false;
        }
        strings = parse_multi_string(data.data(), data.size());
        return true;
    }

private:
    RegKey key_;
    std::string saved_;
    bool had_value_ = false;
};

class ScmTest : public ProcessTest {
protected:
    ScmTest() { remove_leftovers(); }
    ~ScmTest() override {
        remove_leftovers();
        std::filesystem::remove(config_path(HOST_TEST_ENGINE));
    }

    static std::string config_path(const char* program) { return std::string(program) + ".cfg"; }

    // What the service process cannot inherit from the test's environment.
    void configure(const std::vector<std::string>& extra = {}) {
        std::string text = std::string(kLogDirEnv) + "=" + dir_.str() + "\n" + kEventsEnv + "=" +
                           events_path() + "\n";
        for (const std::string& line : extra) text += line + "\n";
        write_file(config_path(HOST_TEST_ENGINE), text);
    }

    void remove_leftovers() {
        for (const char* program : {HOST_TEST_ENGINE, HOST_TEST_UPDATER}) {
            run_child({program, "-u"}, child_options());
        }
    }

    bool wait_for_state(DWORD state) {
        return wait_until([&] { return current_state("Quietway2") == state; },
                          std::chrono::seconds(20));
    }

    static std::string source_key(const char* name) {
        return std::string(kApplicationLogKey) + "\\" + name;
    }
};

TEST_F(ScmTest, InstallStartInterrogateStopAndRemove) {
    configure();
    ASSERT_EQ(run({"-i"}), 1);
    const ServiceConfig config = query_config("Quietway2");
    ASSERT_TRUE(config.found);
    EXPECT_EQ(config.binary_path, "\"" + windows_path(HOST_TEST_ENGINE) + "\"");
    EXPECT_EQ(config.display_name, "Quietway2 Service");
    EXPECT_EQ(config.service_type, 0x110u);
    EXPECT_EQ(config.start_type, 2u);
    EXPECT_EQ(config.error_control, 1u);
    EXPECT_EQ(config.start_name, "LocalSystem");

    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(read_value(source_key("Quietway2"), "EventMessageFile", type, data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(std::string(data.c_str()), windows_path(HOST_TEST_ENGINE));
    ASSERT_TRUE(read_value(source_key("Quietway2"), "TypesSupported", type, data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(*reinterpret_cast<const DWORD*>(data.data()), 7u);

    ASSERT_EQ(run({"-s"}), 1);
    SERVICE_STATUS status{};
    ASSERT_TRUE(service_status("Quietway2", status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(status.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
    ASSERT_TRUE(wait_for_event("run")) << events();

    ASSERT_TRUE(service_status("Quietway2", status, SERVICE_CONTROL_INTERROGATE));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(status.dwWaitHint, 3000u);
    EXPECT_EQ(status.dwCheckPoint, 0u);

    EXPECT_EQ(run({"-e"}), 1);
    EXPECT_EQ(current_state("Quietway2"), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(events(), kFullLifecycle);
    const std::string log = program_log();
    EXPECT_NE(log.find("Quietway2 Service running"), std::string::npos) << log;
    EXPECT_NE(log.find("Quietway2 Service terminated"), std::string::npos) << log;
    EXPECT_EQ(log.find("service status"), std::string::npos);  // reports went to the manager

    EXPECT_EQ(run({"-u"}), 1);
    EXPECT_FALSE(service_exists("Quietway2"));
    EXPECT_FALSE(key_exists(source_key("Quietway2")));
}

TEST_F(ScmTest, StopReportsStopPendingAndStoppedOnlyAfterDestruction) {
    configure({std::string(kCleanupDelayEnv) + "=800", std::string(kDestroyDelayEnv) + "=400"});
    ASSERT_EQ(run({"-i"}), 1);
    ASSERT_EQ(run({"-s"}), 1);
    ASSERT_TRUE(wait_for_event("run")) << events();

    SERVICE_STATUS status{};
    ASSERT_TRUE(service_status("Quietway2", status, SERVICE_CONTROL_STOP));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_EQ(status.dwWaitHint, 11000u);
    EXPECT_EQ(status.dwCheckPoint, 3u);  // start pending twice, then stop pending

    std::string seen_when_stopped;
    ASSERT_TRUE(wait_until([&] {
        if (current_state("Quietway2") != SERVICE_STOPPED) return false;
        seen_when_stopped = events();
        return true;
    }));
    EXPECT_EQ(seen_when_stopped, kFullLifecycle);
}

TEST_F(ScmTest, FailedInitEndsTheServiceOnItsOwn) {
    configure({std::string(kInitEnv) + "=fail"});
    ASSERT_EQ(run({"-i"}), 1);
    run({"-s"});  // the service may already be gone again when the start is confirmed
    ASSERT_TRUE(wait_for_state(SERVICE_STOPPED));
    ASSERT_TRUE(wait_until([&] { return events() == kFailedInitLifecycle; })) << events();
    EXPECT_EQ(program_log().find("Quietway2 Service running"), std::string::npos);
}

TEST_F(ScmTest, SourcesListNamesTheServiceOnce) {
    SourcesValue sources;
    sources.set({"Application", "Other"});
    configure();
    ASSERT_EQ(run({"-i"}), 1);
    EXPECT_EQ(run({"-i"}), 0);  // already installed
    std::vector<std::string> list;
    ASSERT_TRUE(sources.get(list));
    EXPECT_EQ(list, (std::vector<std::string>{"Application", "Other", "Quietway2"}));
    ASSERT_EQ(run({"-u"}), 1);
    ASSERT_TRUE(sources.get(list));
    EXPECT_EQ(list, (std::vector<std::string>{"Application", "Other"}));

    // A name left behind by an earlier installation is not added twice.
    sources.set({"Application", "quietway2"});
    ASSERT_EQ(run({"-i"}), 1);
    ASSERT_TRUE(sources.get(list));
    EXPECT_EQ(list, (std::vector<std::string>{"Application", "quietway2"}));
    ASSERT_EQ(run({"-u"}), 1);
    ASSERT_TRUE(sources.get(list));
    EXPECT_EQ(list, (std::vector<std::string>{"Application"}));
}

TEST_F(ScmTest, MissingSourcesListStaysMissing) {
    SourcesValue sources;
    sources.remove();
    ASSERT_EQ(run({"-i"}), 1);
    std::vector<std::string> list;
    EXPECT_FALSE(sources.get(list));
    EXPECT_TRUE(key_exists(source_key("Quietway2")));
    ASSERT_EQ(run({"-u"}), 1);
    EXPECT_FALSE(sources.get(list));
}

TEST_F(ScmTest, InstallUnderAnAccountGivenInSeparateArguments) {
    ASSERT_EQ(run({"-i", "-l", ".\\tester", "-p", "secret"}), 1);
    const ServiceConfig config = query_config("Quietway2");
    EXPECT_EQ(config.start_name, ".\\tester");
    // Only the local system account may interact with the desktop.
    EXPECT_EQ(config.service_type, 0x10u);
}

TEST_F(ScmTest, InstallUnderAnAccountGivenAttached) {
    ASSERT_EQ(run({"-l.\\other", "-psecret", "-i"}), 1);
    EXPECT_EQ(query_config("Quietway2").start_name, ".\\other");
}

TEST_F(ScmTest, InstallThenRemoveOnOneLineRemoves) {
    EXPECT_EQ(run({"-i", "-u"}), 0);  // nothing was installed to remove
    EXPECT_FALSE(service_exists("Quietway2"));
    ASSERT_EQ(run({"-u", "-i"}), 1);
    EXPECT_TRUE(service_exists("Quietway2"));
}

TEST_F(ScmTest, ActionsOnAMissingServiceFail) {
    EXPECT_EQ(run({"-s"}), 0);
    EXPECT_EQ(run({"-e"}), 0);
    EXPECT_EQ(run({"-u"}), 0);
}

TEST_F(ScmTest, StoppingAStoppedServiceFails) {
    ASSERT_EQ(run({"-i"}), 1);
    EXPECT_EQ(run({"-e"}), 0);
}

TEST_F(ScmTest, TheUpdaterInstallsUnderItsOwnNames) {
    ASSERT_EQ(run({"-i"}, HOST_TEST_UPDATER), 1);
    const ServiceConfig config = query_config("QuietwayUpdater");
    EXPECT_EQ(config.display_name, "Quietway Update Service");
    EXPECT_EQ(config.binary_path, "\"" + windows_path(HOST_TEST_UPDATER) + "\"");
    EXPECT_TRUE(key_exists(source_key("QuietwayUpdater")));
    EXPECT_FALSE(service_exists("Quietway2"));
    EXPECT_EQ(run({"-u"}, HOST_TEST_UPDATER), 1);
    EXPECT_FALSE(key_exists(source_key("QuietwayUpdater")));
}

TEST(DispatcherTest, OutsideTheManagerTheDispatcherFailsWith1063) {
    QuietwayService host(kEngineServiceNames, make_test_application);
    EXPECT_EQ(host.run_dispatcher(), 0);
    EXPECT_EQ(host.last_error(), 1063u);
}

}  // namespace
}  // namespace quietway::testing
