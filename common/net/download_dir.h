#pragma once

#include <memory>
#include <string>

// The platform side of the download directory (download_dir() is in downloader.h).
namespace quietway {

// Environment variable that names the download directory instead of the default (tests).
inline constexpr const char* kDownloadDirEnv = "QUIETWAY_DOWNLOAD_DIR";

// Deletes the file at `path`; never a directory.
void delete_download(const std::string& path);

// Keeps a downloaded file open from its last check until the program it holds has started.
// Windows: shared with readers only, so no one can write, rename or delete it meanwhile.
// Linux: the download directory is root's alone already; the hold only opens the file.
class DownloadHold {
public:
    explicit DownloadHold(const std::string& path);
    ~DownloadHold();
    DownloadHold(const DownloadHold&) = delete;
    DownloadHold& operator=(const DownloadHold&) = delete;

    // False when the file could not be opened so (missing, or open for writing elsewhere).
    bool held() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quietway
