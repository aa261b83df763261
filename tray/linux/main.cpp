#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>

#include <string>

#include "common/log/rotating_log.h"
#include "tray/core/program_folder.h"
#include "tray/linux/single_instance.h"
#include "tray/linux/tray_application.h"
#include "tray/linux/tray_log_directory.h"

namespace {

// Exit codes: a second instance ends with -1, a tray that cannot start its pipe thread with 3.
constexpr int kExitSecondInstance = -1;
constexpr int kExitNoThread = 3;

gboolean quit(gpointer) {
    gtk_main_quit();
    return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
    // The tray runs as the user, who cannot write the services' log directory.
    const std::string log_dir = quietway::tray_log_directory();
    quietway::program_log().set_file_name(quietway::kTrayLogFile,
                                          log_dir.empty() ? nullptr : log_dir.c_str());
    const quietway::SingleInstance instance;
    if (instance.held_elsewhere()) return kExitSecondInstance;
    if (!gtk_init_check(&argc, &argv)) {
        quietway::log("Can't open the display");
        return 1;
    }
    g_unix_signal_add(SIGTERM, quit, nullptr);
    g_unix_signal_add(SIGINT, quit, nullptr);
    int code = 0;
    {
        quietway::TrayApplication application(quietway::beside_program("tray-assets"));
        if (application.start()) {
            gtk_main();
        } else {
            code = kExitNoThread;
        }
    }
    return code;
}
