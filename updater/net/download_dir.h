#pragma once

#include <string>

// The platform side of the download directory (download_dir() is in downloader.h).
namespace quietway {

// Environment variable that names the download directory instead of the default (tests).
inline constexpr const char* kDownloadDirEnv = "QUIETWAY_DOWNLOAD_DIR";

// Deletes the file at `path`; never a directory.
void delete_download(const std::string& path);

}  // namespace quietway
