// quietway_crash_upload HOST PORT PRODUCT VERSION DUMP
//
// Sends one crash dump to the collector: a multipart POST to http://HOST:PORT/post with the
// form parts "prod" and "ver" and the file part "upload_file_minidump". Started by the crash
// handler, which does not look at the result; the exit code (0 sent, 1 refused, 2 failed) is for
// people.
#include <cstdio>
#include <cstring>
#include <string>

#include "common/crash/collector_address.h"
#include "common/crash/crash_upload.h"

namespace {

constexpr size_t kMaxFieldLength = 255;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: quietway_crash_upload HOST PORT PRODUCT VERSION DUMP\n");
        return 1;
    }
    quietway::CollectorAddress collector;
    const std::string address = std::string(argv[1]) + ":" + argv[2];
    if (!quietway::parse_collector_address(address, collector) ||
        std::strlen(argv[3]) > kMaxFieldLength || std::strlen(argv[4]) > kMaxFieldLength) {
        std::fprintf(stderr, "quietway_crash_upload: invalid arguments\n");
        return 1;
    }
    return quietway::send_crash_dump(collector, argv[3], argv[4], argv[5]) ? 0 : 2;
}
