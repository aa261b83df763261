#include <windows.h>

#include "updater/net/download_dir.h"
#include "updater/net/downloader.h"

namespace quietway {

std::string download_dir() {
    char buffer[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::string(buffer, length);
}

void delete_download(const std::string& path) { DeleteFileA(path.c_str()); }

}  // namespace quietway
