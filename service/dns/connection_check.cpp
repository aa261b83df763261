#include "service/dns/connection_check.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/process/run_program.h"
#include "common/store/store.h"

namespace quietway {
namespace {

constexpr size_t kMaxSetting = 511;
constexpr size_t kMaxReply = 64;

bool is_host_name(const std::string& name) {
    return !name.empty() && name.size() <= 253 && name[0] != '-' && name[0] != '.' &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '.' || c == '_';
           });
}

// http or https, and nothing curl or a reader could take for more than one address.
bool is_check_url(const std::string& url) {
    const bool scheme = url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
    return scheme && url.size() <= kMaxSetting &&
           std::all_of(url.begin(), url.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

bool app_text(const char* name, std::string& value) {
    return get_setting_string("app", name, value) && !value.empty() && value.size() <= kMaxSetting;
}

// The lookup may outlast the test (a resolver that never answers): its thread owns a share
// of the result and is left to finish on its own.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done_signal;
    bool done = false;
    std::vector<std::string> answers;
};

std::shared_ptr<Lookup> start_lookup(const std::string& name) {
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, name] {
            std::vector<std::string> answers;
            host_addresses(name, false, answers);
            std::lock_guard lock(lookup->mutex);
            lookup->answers = std::move(answers);
            lookup->done = true;
            lookup->done_signal.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        lookup->done = true;
    }
    return lookup;
}

std::string exit_address(const CheckSettings& settings) {
    std::string reply;
    RunOptions options;
    options.time_limit_ms = kCheckLimitMs;
    options.output = &reply;
    // -q first: no curlrc of the engine's user changes the request.
    const RunResult result = run_program(
        {settings.curl, "-q", "-s", "--max-time", std::to_string(kCheckLimitMs / 1000 - 1),
         "--proto", "=http,https", "--max-redirs", "0", "--url", settings.exit_url},
        options);
    std::string address;
    if (result.started && !result.timed_out && result.exit_code == 0 &&
        exit_address_from(reply, address)) {
        return address;
    }
    return "";
}

}  // namespace

bool read_check_settings(CheckSettings& out) {
    std::string address;
    std::string app_dir;
    std::vector<std::string> canonical;
    if (!app_text(kCheckExitUrlSetting, out.exit_url) || !is_check_url(out.exit_url) ||
        !app_text(kCheckNameSetting, out.dns_name) || !is_host_name(out.dns_name) ||
        !app_text(kCheckAddressSetting, address) || !host_addresses(address, true, canonical) ||
        !app_text("app_dir", app_dir)) {
        return false;
    }
    out.dns_address = canonical.front();
    out.curl = curl_in(app_dir);
    return true;
}

CheckResult run_connection_check(const CheckSettings& settings) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kCheckLimitMs);
    const std::shared_ptr<Lookup> lookup = start_lookup(settings.dns_name);
    CheckResult result;
    result.exit_address = exit_address(settings);
    {
        std::unique_lock lock(lookup->mutex);
        lookup->done_signal.wait_until(lock, deadline, [&] { return lookup->done; });
        result.answers = lookup->answers;
    }
    result.resolver = judge_resolver(result.answers, settings.dns_address);
    return result;
}

ResolverSeen judge_resolver(const std::vector<std::string>& answers, const std::string& expected) {
    if (answers.empty()) return ResolverSeen::none;
    const bool tunnel = std::find(answers.begin(), answers.end(), expected) != answers.end();
    return tunnel ? ResolverSeen::tunnel : ResolverSeen::other;
}

const char* resolver_word(ResolverSeen resolver) {
    switch (resolver) {
        case ResolverSeen::tunnel:
            return "tunnel";
        case ResolverSeen::other:
            return "other";
        case ResolverSeen::none:
            break;
    }
    return "none";
}

bool exit_address_from(const std::string& reply, std::string& address) {
    const char* blank = " \t\r\n";
    const size_t first = reply.find_first_not_of(blank);
    if (first == std::string::npos) return false;
    const std::string word = reply.substr(first, reply.find_last_not_of(blank) - first + 1);
    std::vector<std::string> canonical;
    if (word.size() > kMaxReply || !host_addresses(word, true, canonical)) return false;
    address = canonical.front();
    return true;
}

}  // namespace quietway
