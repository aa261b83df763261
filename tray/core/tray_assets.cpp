#include "tray/core/tray_assets.h"

namespace quietway {

int icon_resource(TrayIcon icon) {
    switch (icon) {
        case TrayIcon::started:
            return kIconResourceStarted;
        case TrayIcon::stopped:
            return kIconResourceStopped;
        case TrayIcon::connecting1:
            return kIconResourceConnecting1;
        case TrayIcon::connecting2:
            return kIconResourceConnecting2;
    }
    return kIconResourceStopped;
}

const char* icon_file_stem(TrayIcon icon) {
    switch (icon) {
        case TrayIcon::started:
            return "started";
        case TrayIcon::stopped:
            return "stopped";
        case TrayIcon::connecting1:
            return "connecting1";
        case TrayIcon::connecting2:
            return "connecting2";
    }
    return "stopped";
}

}  // namespace quietway
