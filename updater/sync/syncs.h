#pragma once

#include <functional>
#include <string>

// The periodic fetches that keep the store current: the server list, the notifications and
// the account's expiry. Each logs to the updater's log and returns whether it changed
// something; the caller ignores the result and tries again at its next period.
namespace quietway {

// Makes the store's server list match the published one. When it changed something it sets
// need_update_servers and calls `end_engine`, so that the engine restarts and provisions.
bool sync_servers(const std::function<void()>& end_engine);

// Stores the account's new notifications; banners are fetched with `download_banner`
// (url, out path) -> success.
bool sync_notifications(
    const std::function<bool(const std::string& url, std::string& path)>& download_banner);

// Stores the account's expiry when it differs from `remembered`, which it then updates.
bool sync_account(std::string& remembered);

}  // namespace quietway
