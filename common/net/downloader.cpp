#include "common/net/downloader.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>

#include "common/net/dl_exc.h"
#include "common/net/download_dir.h"
#include "common/net/http_fetch.h"
#include "common/net/http_request.h"

namespace quietway {
namespace {

constexpr size_t kReadBufferSize = 10240;

bool is_http_url(const std::string& url) {
    std::string scheme = url.substr(0, 4);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return scheme == "http";
}

// Opens the output file; the present length is its length when appending, 0 after truncation.
std::streamoff open_output(std::ofstream& out, const std::string& path, bool truncate) {
    const auto mode =
        std::ios::binary | std::ios::out | (truncate ? std::ios::trunc : std::ios::app);
    out.open(path, mode);
    if (!out.good()) throw DLExc("Can't open output file");
    if (truncate) return 0;
    // An append stream reports position 0 until it writes, so the length comes from the file.
    std::error_code error;
    const uintmax_t length = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<std::streamoff>(length);
}

bool transfer(const std::string& url, bool reload, const std::atomic<uint8_t>* abort,
              const std::string& path, std::ofstream& out, HttpRequest& request) {
    if (!is_http_url(url)) throw DLExc("Must be HTTP url");
    const std::streamoff present = open_output(out, path, reload);
    if (!HttpRequest::attempt_connect()) throw DLExc("Can't connect");
    if (!request.open_session(kDownloadAgent)) throw DLExc("Can't open connection");
    if (!request.open_url(url, true)) throw DLExc("Can't open url");
    const std::optional<uint32_t> announced = request.content_length();
    if (!announced) throw DLExc("File or content length not found");
    if (*announced == 0 || static_cast<std::streamoff>(*announced) == present) return true;
    // The body always starts at the resource's first byte, so older bytes of another length
    // would only be followed by a second copy: start the file over.
    if (present != 0) {
        out.close();
        open_output(out, path, true);
    }
    char buffer[kReadBufferSize];
    uint64_t total = 0;
    size_t received = 0;
    do {
        if (abort != nullptr && abort->load() != 0) return false;
        if (!request.read(buffer, sizeof buffer, received)) {
            throw DLExc("Error occurred during download");
        }
        out.write(buffer, static_cast<std::streamsize>(received));
        if (!out.good()) throw DLExc("Error writing file");
        total += received;
    } while (received > 0);
    // A connection that closed early ends the reads as if the body were complete.
    if (total != *announced) throw DLExc("Error occurred during download");
    return true;
}

}  // namespace

bool download_file(const std::string& url, bool reload, const std::atomic<uint8_t>* abort,
                   const std::string& path) {
    std::ofstream out;
    bool done = false;
    {
        HttpRequest request;
        try {
            done = transfer(url, reload, abort, path, out, request);
        } catch (const DLExc&) {
            // Not logged: the caller tries again at its next period.
            done = false;
        }
        // The file is closed before the handles.
        out.close();
    }
    return done;
}

bool download_to_temp(const std::string& url, std::string& path) {
    const size_t slash = url.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? url : url.substr(slash + 1);
    const std::string dir = download_dir();
    path = dir + name;
    // Without a safe directory, or with a name that is a directory, nothing is written.
    if (dir.empty() || name == "." || name == "..") return false;
    if (download_file(url, false, nullptr, path)) return true;
    delete_download(path);
    return false;
}

}  // namespace quietway
