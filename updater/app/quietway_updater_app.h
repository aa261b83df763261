#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/privacy/privacy_status.h"
#include "common/service_host/application.h"
#include "updater/app/updater_seams.h"

namespace quietway {

// The machine the loop works on; a null member is replaced by the system's own.
struct UpdaterSeams {
    TickClock* clock = nullptr;
    ServiceManager* services = nullptr;
    ProcessSide* processes = nullptr;
};

struct VersionRecord;

// The updater service's application: one polling loop on the host's application thread that
// checks for and installs new versions, keeps the store's lists current and watches the
// engine, the firewall program and the tray.

class QuietwayUpdaterApp : public Application {
public:
    // Longest watched service name; the version record's buffer size.
    static constexpr size_t kMaxServiceName = 63;
    static constexpr size_t kVersionRecordSize = 512;
    static constexpr uint32_t kClockMask = 0x0FFFFFFF;
    static constexpr uint32_t kUpdatePeriodMs = 30000;
    static constexpr uint32_t kWatchdogPeriodMs = 1000;
    static constexpr uint32_t kInstallPeriodMs = 10000;
    static constexpr uint32_t kNotificationPeriodMs = 60000;
    static constexpr uint32_t kLoopPauseMs = 500;
    static constexpr uint32_t kStartPollMs = 200;
    static constexpr int kStartPolls = 200;
    // A detached Ed25519 signature: 64 raw bytes.
    static constexpr size_t kSignatureSize = 64;

    explicit QuietwayUpdaterApp(QuietwayService* host, UpdaterSeams seams = {});
    ~QuietwayUpdaterApp() override;

    bool init() override;
    void cleanup() override;
    void run() override;

    virtual void tick();
    virtual void check_update();
    virtual bool sync_servers();
    virtual bool sync_notifications();
    virtual bool sync_account();
    virtual void install_update();
    virtual void watchdog();
    virtual void check_firewall();
    virtual void check_tray();
    virtual bool download_to_temp(const std::string& url, std::string& path);

    bool update_downloaded() const { return update_downloaded_; }
    bool installing() const { return installing_; }
    const std::string& downloaded_version() const { return downloaded_version_; }
    const std::string& new_version() const { return new_version_; }

    // The store value (section "app") naming the version whose installer was last started.
    static constexpr const char* kUpdateTriedValue = "update_tried";

private:
    // The store's signing key; false (said once) when there is no valid one.
    bool signing_key(std::string& key);
    // Whether `version`'s installer was started before and the client stayed as it was.
    bool tried_before(const std::string& version);
    // Puts the record's verified installer into the download directory; true with its path
    // in `path`. A file that fails a check is deleted.
    bool get_installer(const VersionRecord& record, const std::string& key, std::string& path);
    // The installer carries a valid signature by `key`.
    bool signature_accepted(const std::string& installer, const std::string& url,
                            const std::string& key);
    // The installer itself says it is this client at the record's version, newer than ours.
    bool identity_accepted(const std::string& installer, const std::string& version);
    // The installer is checked again right before each run: it waits on disk between the
    // check and the install, and runs with the highest privileges.
    bool still_verified(const std::string& installer) const;
    // Starts the installer when it passes that check; false (nothing started) when it does not.
    bool run_verified(const std::string& installer);

    std::unique_ptr<TickClock> own_clock_;
    std::unique_ptr<ServiceManager> own_services_;
    std::unique_ptr<ProcessSide> own_processes_;
    TickClock& clock_;
    ServiceManager& services_;
    ProcessSide& processes_;

protected:
    std::string watched_service_;
    std::unique_ptr<char[]> version_record_;
    bool update_downloaded_ = false;
    bool installing_ = false;
    uint32_t last_update_check_ = 0;
    uint32_t last_install_attempt_ = 0;
    uint32_t last_watchdog_run_ = 0;
    uint32_t last_notification_sync_ = 0;
    std::string update_server_url_;
    std::string app_version_;
    std::string new_version_;
    std::string downloaded_version_;
    // The digest the recorded installer was verified against.
    std::string verified_digest_;
    std::string account_expires_;
    bool said_no_key_ = false;
    std::string said_tried_;
    int32_t last_privacy_status_ = kPrivacyNone;
    std::string app_dir_;
};

}  // namespace quietway
