#include "service/privacy/server_provisioner.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "common/log/rotating_log.h"
#include "common/net/percent_encode.h"
#include "common/process/run_program.h"
#include "service/privacy/data_dir_acl.h"
#include "service/privacy/host_key_cache.h"
#include "service/privacy/host_key_pass.h"
#include "service/privacy/provision_platform.h"
#include "service/privacy/provision_text.h"
#include "service/privacy/servers_manager.h"

namespace quietway {
namespace {

namespace fs = std::filesystem;

// curl gives up on a server that does not answer well before the runner's own limit.
constexpr const char* kCurlConnectSeconds = "10";
constexpr const char* kCurlTotalSeconds = "120";  // for each file
constexpr uint32_t kCurlFileLimitMs = 120 * 1000;
constexpr uint32_t kCurlSlackMs = 30 * 1000;
// "ca.crt" and "ta.key" come first; the user's certificate and key are fetched even when
// one of them fails, and check_files then decides.
constexpr size_t kRequiredFiles = 2;
// The host-key step ends at once on a live server (its remote command is "exit").
constexpr uint32_t kHostKeyLimitMs = 30 * 1000;
// Most of a program's output kept for the log line of a failure.
constexpr size_t kLoggedOutput = 200;

// Server directories are named by the server number; nothing else may reach the file system.
bool is_server_number(const std::string& id) {
    return !id.empty() && id.size() <= 10 &&
           std::all_of(id.begin(), id.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string one_line(const std::string& output) {
    std::string line = output.substr(0, kLoggedOutput);
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return line;
}

void remove_file(const std::string& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

}  // namespace

bool ServerProvisioner::reset_server(const std::string& id) const {
    if (!is_server_number(id)) return false;
    // Emptying what a link leads to would delete files anywhere, as root.
    if (is_link(manager_.server_dir(id))) {
        log("reset_server %s: the server directory is a link, not followed", id.c_str());
        return set_server_status(id, kServerInitial);
    }
    std::error_code error;
    const fs::directory_iterator end;
    for (fs::directory_iterator it(manager_.server_dir(id), error); !error && it != end;
         it.increment(error)) {
        std::error_code ignored;
        if (!fs::is_directory(it->symlink_status(ignored))) fs::remove(it->path(), ignored);
    }
    return set_server_status(id, kServerInitial);
}

bool ServerProvisioner::check_files(const std::string& id, const std::string& user) const {
    if (!is_server_number(id)) return false;
    const std::string dir = manager_.server_dir(id);
    for (const std::string& name :
         {std::string("ca.crt"), std::string("ta.key"), user + ".crt", user + ".key"}) {
        const std::string path = dir + path_separator() + name;
        std::error_code error;
        if (path.size() < kPathCapacity && fs::exists(path, error)) continue;
        // On a fresh install the directory itself is missing: make it for the download.
        if (!fs::is_directory(dir, error)) make_server_directory(dir);
        return false;
    }
    return true;
}

bool ServerProvisioner::provision(const std::string& id, const Account& account, ServerRecord& work,
                                  HostKeyPass* pass) const {
    if (!is_server_number(id) || !read_server(id, work)) return false;
    work.id = index_of(id);
    work.status = kServerFailed;
    resolve_server_address(work);
    const auto fail = [&](const char* why) {
        log("provision_server %s: %s", id.c_str(), why);
        set_server_status(id, kServerFailed);
        return false;
    };
    if (!manager_.conf_private()) return fail("the conf directory is not private");
    // The address goes to curl and plink as a host; anything else could read as an option.
    if (!is_host_text(work.address)) return fail("the address is not a host name or address");
    if (!is_dotted_ipv4(work.address_ip)) return fail("no dotted IPv4 address to connect to");
    // The name becomes "<user>.crt" and "<user>.key", written by a program running as root.
    if (!is_file_name_part(account.user)) return fail("the user name cannot name a key file");
    if (is_link(manager_.server_dir(id))) return fail("the server directory is a link");
    if (!check_files(id, account.user) && !download(id, account, work)) {
        return fail("the key files could not be fetched");
    }
    if (!write_files(id, account, work)) return fail("the configuration could not be written");
    HostKeyPass own_pass;
    if (!record_host_key(id, account, work, pass != nullptr ? *pass : own_pass)) {
        return fail("the host key step could not run");
    }
    work.status = kServerReady;
    return write_server(id, work);
}

bool ServerProvisioner::download(const std::string& id, const Account& account,
                                 const ServerRecord& work) const {
    if (!is_server_number(id)) return false;
    const std::string dir = manager_.server_dir(id);
    const std::vector<std::string> files = {"ca.crt", "ta.key", account.user + ".crt",
                                            account.user + ".key"};
    for (const std::string& file : files) {
        if (download_command_length(manager_.bin_dir(), account.user, account.password,
                                    work.address, manager_.ftp_port(), file,
                                    dir) >= kDownloadCommandCapacity) {
            log("provision_server %s: the download command for %s is too long", id.c_str(),
                file.c_str());
            return false;
        }
    }
    make_server_directory(dir);
    // curl stops at the first file that fails: without one of the first two the server fails,
    // while the files after an optional one that failed get a run of their own.
    std::vector<bool> fetched(files.size(), false);
    for (size_t next = 0; next < files.size();) {
        next = fetch(id, account, work, files, next, fetched);
        for (size_t i = 0; i < kRequiredFiles && i < next; ++i) {
            if (!fetched[i]) return false;
        }
    }
    return check_files(id, account.user);
}

size_t ServerProvisioner::fetch(const std::string& id, const Account& account,
                                const ServerRecord& work, const std::vector<std::string>& files,
                                size_t first, std::vector<bool>& fetched) const {
    // The size query before each file is skipped: some servers answer it late (200 ms a file
    // in the lab), and the length still comes with the transfer's opening reply.
    std::vector<std::string> args = {manager_.bin_dir() + program_file("curl"),
                                     "--ssl-reqd",
                                     "-k",
                                     "-sS",
                                     "--fail-early",
                                     "--ignore-content-length",
                                     "--connect-timeout",
                                     kCurlConnectSeconds,
                                     "--max-time",
                                     kCurlTotalSeconds,
                                     "--write-out",
                                     kCurlTransferFormat,
                                     "-K",
                                     "-"};
    std::vector<std::string> targets;
    for (size_t i = first; i < files.size(); ++i) {
        targets.push_back(manager_.server_dir(id) + path_separator() + files[i]);
        if (targets.back().size() >= kPathCapacity) return files.size();
        args.push_back("ftp://" + work.address + ":" + manager_.ftp_port() + "/" +
                       percent_encode(files[i]));
        args.push_back("-o");
        args.push_back(targets.back());
    }
    std::string output;
    RunOptions options;
    options.input = curl_user_option(account.user, account.password);
    options.time_limit_ms = static_cast<uint32_t>(targets.size()) * kCurlFileLimitMs + kCurlSlackMs;
    options.output = &output;
    const RunResult result = run_program(args, options);
    const std::vector<int> codes = curl_transfer_codes(output, targets.size());
    // A transfer that curl never reported was cut short (time limit, a crash): it failed.
    size_t tried = codes.size();
    if (tried < targets.size() && (tried == 0 || codes.back() == 0)) ++tried;
    for (size_t i = 0; i < tried; ++i) {
        std::error_code error;
        fetched[first + i] = i < codes.size() && codes[i] == 0 && fs::exists(targets[i], error);
        if (fetched[first + i]) continue;
        // A partial file must not pass for a fetched one later.
        remove_file(targets[i]);
        log("provision_server %s: %s not fetched from %s (started %d, timed out %d, exit %d): %s",
            id.c_str(), files[first + i].c_str(), work.address.c_str(), result.started ? 1 : 0,
            result.timed_out ? 1 : 0, i < codes.size() ? codes[i] : -1, one_line(output).c_str());
    }
    return first + tried;
}

bool ServerProvisioner::write_files(const std::string& id, const Account& account,
                                    const ServerRecord& work) const {
    if (!is_server_number(id)) return false;
    const std::string d0 = manager_.server_dir(id) + path_separator();
    const std::string auth = d0 + "auth.cfg";
    const std::string config = d0 + "vpn_conf.ovpn";
    if (config.size() >= kPathCapacity || auth.size() >= kPathCapacity) return false;
    const std::string text =
        vpn_config_text(native_form(), d0, account.user, work.address_ip, manager_.vpn_port());
    if (text.empty()) {
        log("write_config %s: refused, address_ip or the user name would add lines", id.c_str());
        return false;
    }
    return write_whole_file(auth, auth_text(native_form(), account.user, account.password), true) &&
           write_whole_file(
               config, text + vpn_config_platform_lines(manager_.bin_dir(), manager_.app_data()),
               false);
}

bool ServerProvisioner::record_host_key(const std::string& id, const Account& account,
                                        const ServerRecord& work, HostKeyPass& pass) const {
    if (host_key_command_length(manager_.bin_dir(), manager_.ssh_port(), account.user,
                                account.password, work.address) >= kHostKeyCommandCapacity) {
        return false;
    }
    // plink keeps a key per host and port: once this pass has it, the host's other servers
    // have nothing left to do.
    const std::string host = work.address + ":" + manager_.ssh_port();
    if (!pass.claim(host)) return true;
    bool recorded = false;
    struct Finish {
        HostKeyPass& pass;
        const std::string& host;
        bool& recorded;
        ~Finish() { pass.finish(host, recorded); }
    } finish{pass, host, recorded};
    // The password reaches plink in a file only its owner can read, never on its command line.
    const std::string password_file = manager_.server_dir(id) + path_separator() + "plink.pw";
    if (password_file.size() >= kPathCapacity ||
        !write_whole_file(password_file, account.password, true)) {
        remove_file(password_file);
        return false;
    }
    // "exit" ends the session at once; without a remote command plink would sit in a shell.
    const std::vector<std::string> args = {manager_.bin_dir() + program_file("plink"),
                                           "-ssh",
                                           "-P",
                                           manager_.ssh_port(),
                                           "-l",
                                           account.user,
                                           "-pwfile",
                                           password_file,
                                           work.address,
                                           "exit"};
    std::string output;
    RunOptions options;
    options.time_limit_ms = kHostKeyLimitMs;
    options.output = &output;
    // In batch mode plink only reads the cache: a key already there needs nothing more. A
    // server that let the batch run time out gets no second run.
    std::vector<std::string> batch = args;
    batch.insert(batch.begin() + 1, "-batch");
    const RunResult known = run_program(batch, options);
    recorded = known.started && !known.timed_out && known.exit_code == 0;
    if (known.started && !known.timed_out && known.exit_code != 0) {
        options.input = "y\n";
        recorded = run_storing_plink(args, options, manager_.server_dir(id));
    }
    remove_file(password_file);
    // As before, plink's outcome is not examined: the sessions report a refused login.
    return true;
}

std::vector<bool> ServerProvisioner::prepare_all(const std::vector<std::string>& ids,
                                                 const char* operation,
                                                 const Account& account) const {
    using Clock = std::chrono::steady_clock;
    std::vector<char> ready(ids.size(), 0);
    std::atomic<size_t> next{0};
    HostKeyPass pass;
    const auto work = [&] {
        for (size_t i = next++; i < ids.size(); i = next++) {
            const auto started = Clock::now();
            reset_server(ids[i]);
            ServerRecord record;
            ready[i] = provision(ids[i], account, record, &pass) ? 1 : 0;
            const auto ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started)
                    .count();
            log("%s: server %s %s in %d ms", operation, ids[i].c_str(),
                ready[i] ? "ready" : "failed", static_cast<int>(ms));
        }
    };
    std::vector<std::thread> threads;
    const size_t count = std::min(kParallelServers, ids.size());
    for (size_t t = 0; t < count; ++t) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // the threads already running (or this one, below) take the rest
        }
    }
    if (threads.empty()) work();
    for (std::thread& thread : threads) thread.join();
    return std::vector<bool>(ready.begin(), ready.end());
}

}  // namespace quietway
