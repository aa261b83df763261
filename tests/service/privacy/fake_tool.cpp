// Stands in for curl and plink in the provisioning tests. Each run leaves one record in the
// directory named by QUIETWAY_FAKE_TOOL_LOG: the program's name, its arguments, its standard
// input and, for plink, the content of its password file. As curl it writes the file named
// after each URL's -o, unless the URL contains the text of QUIETWAY_FAKE_CURL_FAIL, and
// prints its --write-out text after each transfer; as plink it keeps the host keys it was
// told to store in the cache file PUTTYSSHHOSTKEYS names.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

std::string read_all(FILE* file) {
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, n);
    return text;
}

std::string read_path(const char* path) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return "<missing>";
    std::string text = read_all(file);
    std::fclose(file);
    return text;
}

bool write_path(const std::string& path, const std::string& text) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    std::fwrite(text.data(), 1, text.size(), file);
    return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    const std::string self = argv[0];
    const bool is_curl = self.find("curl") != std::string::npos;
    // Each field as "<length>:<bytes>;" so that line breaks and quotes stay exact.
    std::string record;
    const auto field = [&](const std::string& text) {
        record += std::to_string(text.size()) + ":" + text + ";";
    };
    field(is_curl ? "curl" : "plink");
    const char* output = nullptr;
    const char* password_file = nullptr;
    for (int i = 1; i < argc; ++i) {
        field(argv[i]);
        if (i + 1 < argc && std::strcmp(argv[i], "-o") == 0) output = argv[i + 1];
        if (i + 1 < argc && std::strcmp(argv[i], "-pwfile") == 0) password_file = argv[i + 1];
    }
    const std::string input = read_all(stdin);
    field("stdin=" + input);
    if (password_file != nullptr) field("pwfile=" + read_path(password_file));

    const char* log_dir = std::getenv("QUIETWAY_FAKE_TOOL_LOG");
    if (log_dir != nullptr) {
        std::random_device rd;
        write_path(std::string(log_dir) + "/" + std::to_string(rd()) + std::to_string(rd()),
                   record);
    }
    if (!is_curl) {
        // plink: a host key is known once an interactive run answered "y"; batch runs stop
        // at an unknown one.
        const char* cache = std::getenv("PUTTYSSHHOSTKEYS");
        const std::string cache_file = cache != nullptr ? cache : "sshhostkeys";
        std::string port;
        bool batch = false;
        for (int i = 1; i < argc; ++i) {
            batch = batch || std::strcmp(argv[i], "-batch") == 0;
            if (i + 1 < argc && std::strcmp(argv[i], "-P") == 0) port = argv[i + 1];
        }
        const std::string entry = "fake@" + port + ":" + argv[argc - 2] + " key\n";
        std::string known = read_path(cache_file.c_str());
        if (known == "<missing>") known.clear();
        if (batch) return known.find(entry) == std::string::npos ? 1 : 0;
        if (input == "y\n" && known.find(entry) == std::string::npos) {
            write_path(cache_file, known + entry);
        }
        return 0;
    }
    // Fails for every URL that contains the variable's text.
    const char* fail = std::getenv("QUIETWAY_FAKE_CURL_FAIL");
    std::string format;
    bool fail_early = false;
    int last_failure = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--fail-early") fail_early = true;
        if (arg == "--write-out" && i + 1 < argc) format = argv[i + 1];
        if (arg.rfind("ftp://", 0) != 0 || i + 2 >= argc || std::strcmp(argv[i + 1], "-o") != 0) {
            continue;
        }
        int code = 67;
        if (fail == nullptr || arg.find(fail) == std::string::npos) {
            code = write_path(argv[i + 2], "fetched " + arg) ? 0 : 23;
        }
        std::string written = format;
        const size_t at = written.find("%{exitcode}");
        if (at != std::string::npos) written.replace(at, 11, std::to_string(code));
        std::fputs(written.c_str(), stdout);
        if (code != 0) last_failure = code;
        if (code != 0 && fail_early) break;
    }
    return output == nullptr ? 2 : last_failure;
}
