#include "updater/app/quietway_updater_app.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include "common/log/rotating_log.h"
#include "common/net/download_dir.h"
#include "common/net/downloader.h"
#include "common/net/http_fetch.h"
#include "common/privacy/privacy_mode.h"
#include "common/privacy/privacy_status.h"
#include "common/service_host/service_names.h"
#include "common/store/store.h"
#include "updater/sync/installer_identity.h"
#include "updater/sync/syncs.h"
#include "updater/sync/version_record.h"

namespace quietway {
namespace {

uint32_t read_dword(const char* section, const char* name) {
    uint32_t value = 0;
    return get_setting_dword(section, name, value) ? value : 0;
}

void remove_file(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

bool file_exists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::is_regular_file(path, ignored);
}

template <class T>
T& chosen(T* given, std::unique_ptr<T>& own, std::unique_ptr<T> (*make)()) {
    if (given != nullptr) return *given;
    own = make();
    return *own;
}

}  // namespace

QuietwayUpdaterApp::QuietwayUpdaterApp(QuietwayService* host, UpdaterSeams seams)
    : Application(host),
      clock_(chosen(seams.clock, own_clock_, make_system_clock)),
      services_(chosen(seams.services, own_services_, make_system_service_manager)),
      processes_(chosen(seams.processes, own_processes_, make_system_process_side)) {}

QuietwayUpdaterApp::~QuietwayUpdaterApp() = default;

bool QuietwayUpdaterApp::init() {
    version_record_ = std::make_unique<char[]>(kVersionRecordSize + 1);
    version_record_[0] = '\0';
    uint32_t auto_update = 0;
    if (get_setting_dword("app", "auto_update", auto_update) && auto_update == 1) {
        log("Client autoupdate ON!");
    }
    if (!get_setting_string("app", "app_version", app_version_)) {
        log("Application version UNKNOWN!!!");
    }
    if (!get_setting_string("app", "update_server_url", update_server_url_)) {
        log("Update server UNKNOWN!!!");
    }
    if (!get_setting_string("general", "account_expires", account_expires_)) {
        log("Account expires UNKNOWN!!!");
    }
    update_downloaded_ = false;
    installing_ = false;
    last_update_check_ = last_install_attempt_ = last_watchdog_run_ = last_notification_sync_ = 0;
    watched_service_ = std::string(kEngineServiceNames.service_name).substr(0, kMaxServiceName);
    if (get_setting_string("app", "app_dir", app_dir_)) {
        processes_.start_tray(app_dir_ + kTrayProgramPath);
    }
    last_privacy_status_ = kPrivacyNone;
    set_setting_dword("app", "privacy_status", kPrivacyNone);
    return true;
}

void QuietwayUpdaterApp::cleanup() { version_record_.reset(); }

void QuietwayUpdaterApp::run() {
    while (!stop_requested()) {
        tick();
        clock_.sleep_ms(kLoopPauseMs);
    }
}

// The clock is read once: every period is measured from the start of the tick in which its
// operation last ran, so a slow operation delays the others but nothing queues up behind it.
void QuietwayUpdaterApp::tick() {
    const uint32_t now = clock_.tick_count() & kClockMask;
    if (now - last_update_check_ > kUpdatePeriodMs) {
        check_update();
        if (last_update_check_ != 0) sync_servers();
        last_update_check_ = now;
    }
    if (!installing_ && now - last_watchdog_run_ > kWatchdogPeriodMs) {
        watchdog();
        last_watchdog_run_ = now;
    }
    if (update_downloaded_ && now - last_install_attempt_ > kInstallPeriodMs) {
        install_update();
        last_install_attempt_ = now;
    }
    if (now - last_notification_sync_ > kNotificationPeriodMs) {
        sync_notifications();
        sync_account();
        last_notification_sync_ = now;
    }
}

void QuietwayUpdaterApp::check_update() {
    if (!version_record_) return;
    std::string key;
    if (!signing_key(key) || update_server_url_.empty()) return;
    const std::string current = downloaded_version_.empty() ? app_version_ : downloaded_version_;
    version_record_[0] = '\0';
    const size_t got = fetch_text(update_server_url_, version_record_.get(), kVersionRecordSize);
    VersionRecord record;
    const bool newer = got > 0 &&
                       parse_version_record(std::string_view(version_record_.get(), got), record) &&
                       is_newer_version(current, record.version);
    if (!newer) {
        log("You have the most recent version! (%s)", current.c_str());
        return;
    }
    if (tried_before(record.version)) return;
    new_version_ = record.version;
    log("Client version is obsolete!");
    update_downloaded_ = false;
    std::string path;
    if (!get_installer(record, key, path)) {
        log("Download update FAILED!");
        return;
    }
    std::string older;
    if (get_setting_string("app", "update_info", older) && !older.empty() && older != path) {
        std::error_code error;
        if (!std::filesystem::remove(older, error)) log("Delete old installer FAIL!");
        log("Delete old installer!");
    }
    if (!set_setting_string("app", "update_info", path)) return;
    log("Download update succesfull!");
    update_downloaded_ = true;
    downloaded_version_ = new_version_;
    verified_digest_ = record.digest;
}

// Without a key nothing could be verified as the vendor's, so nothing is fetched to run.
bool QuietwayUpdaterApp::signing_key(std::string& key) {
    if (get_setting_string("app", kUpdateKeyValue, key) && is_update_key(key)) {
        said_no_key_ = false;
        return true;
    }
    if (!said_no_key_) {
        log("Self-update is OFF: no valid signing key (app\\%s) is configured", kUpdateKeyValue);
        said_no_key_ = true;
    }
    return false;
}

// An installer that was started and left the old version in place (a failed upgrade) is not
// started again: each try stops the services. A newer version is tried once more.
bool QuietwayUpdaterApp::tried_before(const std::string& version) {
    std::string tried;
    if (!get_setting_string("app", kUpdateTriedValue, tried) || tried != version) return false;
    if (said_tried_ != version) {
        log("Version %s was installed once and did not take; waiting for a newer one",
            version.c_str());
        said_tried_ = version;
    }
    return true;
}

bool QuietwayUpdaterApp::get_installer(const VersionRecord& record, const std::string& key,
                                       std::string& path) {
    const std::string dir = download_dir();
    if (dir.empty()) return false;
    path = dir + record.file_name;
    bool verified = file_exists(path) && file_md5_matches(path, record.digest);
    if (!verified) {
        // Never set: an update download runs to its end or its failure.
        static const std::atomic<uint8_t> never_abort{0};
        verified = download_file(record.url, true, &never_abort, path) &&
                   file_md5_matches(path, record.digest);
    }
    if (verified && signature_accepted(path, record.url, key) &&
        identity_accepted(path, record.version)) {
        return true;
    }
    remove_file(path);
    remove_file(path + ".sig");
    return false;
}

// The digest comes over plain HTTP from the same server as the installer, so it only proves
// an intact download; the signature by the store's key proves it is the vendor's.
bool QuietwayUpdaterApp::signature_accepted(const std::string& installer, const std::string& url,
                                            const std::string& key) {
    const std::string signature_path = installer + ".sig";
    std::string signature;
    uint32_t error = 0;
    bool valid = false;
    if (fetch_document(url + ".sig", kSignatureSize, signature, error) == FetchStatus::ok &&
        signature.size() == kSignatureSize) {
        {
            std::ofstream out(signature_path, std::ios::binary | std::ios::trunc);
            out.write(signature.data(), static_cast<std::streamsize>(signature.size()));
        }
        valid = installer_signature_valid(installer, signature_path, key);
    }
    // Kept beside a valid installer for the check before each install.
    if (!valid) {
        remove_file(signature_path);
        log("Installer signature INVALID!");
    }
    return valid;
}

// The record's version is not signed: an older signed installer offered as a newer version
// would roll the client back to a version with known faults.
bool QuietwayUpdaterApp::identity_accepted(const std::string& installer,
                                           const std::string& version) {
    InstallerIdentity identity;
    if (!read_installer_identity(installer, identity)) {
        log("Installer refused: it names no product and version");
        return false;
    }
    if (!installer_is_upgrade(identity, version, app_version_)) {
        log("Installer refused: %s %s is not %s %s newer than %s", identity.product.c_str(),
            identity.version.c_str(), kInstallerProduct, version.c_str(), app_version_.c_str());
        return false;
    }
    return true;
}

bool QuietwayUpdaterApp::still_verified(const std::string& installer) const {
    std::string key;
    InstallerIdentity identity;
    return file_md5_matches(installer, verified_digest_) &&
           get_setting_string("app", kUpdateKeyValue, key) &&
           installer_signature_valid(installer, installer + ".sig", key) &&
           read_installer_identity(installer, identity) &&
           installer_is_upgrade(identity, downloaded_version_, app_version_);
}

void QuietwayUpdaterApp::install_update() {
    const uint32_t status = read_dword("app", "privacy_status");
    if (status != static_cast<uint32_t>(kPrivacyNone) &&
        status != static_cast<uint32_t>(kPrivacyStopped)) {
        log("Privacy is ON! Can't install new version!");
        return;
    }
    log("Privacy is OFF!");
    std::string installer;
    if (!get_setting_string("app", "update_info", installer)) {
        log("Update file UNKNOWN!!!");
        return;
    }
    if (!run_verified(installer)) {
        log("Installer changed since it was verified! Deleted.");
        remove_file(installer);
        remove_file(installer + ".sig");
        update_downloaded_ = false;
    }
}

// The installer is held from its last check until it has started, and released before a
// changed one is deleted.
bool QuietwayUpdaterApp::run_verified(const std::string& installer) {
    const DownloadHold hold(installer);
    if (!hold.held() || !still_verified(installer)) return false;
    if (installing_) {
        log("New version was not installed! Try installing...");
    } else {
        log("Installing new version!!!");
    }
    installing_ = true;
    set_setting_string("app", kUpdateTriedValue, downloaded_version_);
    processes_.run_installer(installer);
    return true;
}

void QuietwayUpdaterApp::watchdog() {
    std::string installer;
    if (get_setting_string("app", "update_info", installer) && !installer.empty()) {
        processes_.report_installer_outcome(installer);
    }
    if (services_.query_state(watched_service_) == WatchedState::stopped) {
        uint32_t error = 0;
        if (!services_.start(watched_service_, error)) {
            // Nothing is starting, so there is nothing to wait for.
            log("Can't start service %s, error %u", watched_service_.c_str(), error);
        } else {
            for (int poll = 0; poll < kStartPolls && !stop_requested(); ++poll) {
                if (services_.query_state(watched_service_) == WatchedState::running) break;
                clock_.sleep_ms(kStartPollMs);
            }
        }
    }
    check_firewall();
    check_tray();
}

void QuietwayUpdaterApp::check_firewall() {
    const int32_t status = static_cast<int32_t>(read_dword("app", "privacy_status"));
    const uint32_t restart = read_dword("app", "privacy_restart");
    const int32_t mode = static_cast<int32_t>(read_dword("general", "mode"));
    uint32_t use_firewall = 0;
    if (!get_setting_dword("general", "use_firewall", use_firewall)) {
        log("Can't get use firewall");
        return;
    }
    const bool wanted = use_firewall != 0 && restart == 0;
    if (status == kPrivacyConnected) {
        if (mode == kPrivacyModeVpn && last_privacy_status_ != kPrivacyConnected) {
            log("Use firewall = %d", static_cast<int>(use_firewall));
            if (wanted) {
                processes_.kill_firewall();
                processes_.start_firewall(app_dir_ + kFirewallProgramPath);
            }
        }
    } else if (status == kPrivacyStopped) {
        if (mode == kPrivacyModeVpn && last_privacy_status_ != kPrivacyStopped && wanted) {
            processes_.kill_firewall();
        }
    }
    last_privacy_status_ = status;
}

void QuietwayUpdaterApp::check_tray() {
    if (processes_.tray_running()) return;
    log("TrayApp was stopped. Running TrayApp...");
    if (get_setting_string("app", "app_dir", app_dir_)) {
        processes_.start_tray(app_dir_ + kTrayProgramPath);
    }
}

bool QuietwayUpdaterApp::sync_servers() {
    return quietway::sync_servers([this] { processes_.end_engine(); });
}

bool QuietwayUpdaterApp::sync_notifications() {
    return quietway::sync_notifications(
        [this](const std::string& url, std::string& path) { return download_to_temp(url, path); });
}

bool QuietwayUpdaterApp::sync_account() { return quietway::sync_account(account_expires_); }

bool QuietwayUpdaterApp::download_to_temp(const std::string& url, std::string& path) {
    return quietway::download_to_temp(url, path);
}

}  // namespace quietway
