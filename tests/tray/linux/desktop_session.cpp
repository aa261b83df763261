#include "tests/tray/linux/desktop_session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace quietway::testing {
namespace {

// What a desktop publishes and Xvfb alone lacks: a primary monitor (toolkits take the work area
// for that one only) and the work area left by the panel along the bottom, on a root window
// that names itself as the window manager's check window.
bool publish_work_area(int panel_height) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    const Window root = DefaultRootWindow(display);
    const Screen* screen = DefaultScreenOfDisplay(display);
    const Atom workarea = XInternAtom(display, "_NET_WORKAREA", False);
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    const long area[4] = {0, 0, screen->width, screen->height - panel_height};
    const long self = static_cast<long>(root);
    const long supported = static_cast<long>(workarea);
    auto set = [&](Atom name, Atom type, const long* values, int count) {
        XChangeProperty(display, root, name, type, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(values), count);
    };
    set(check, XA_WINDOW, &self, 1);
    set(XInternAtom(display, "_NET_SUPPORTED", False), XA_ATOM, &supported, 1);
    set(workarea, XA_CARDINAL, area, 4);
    XRRScreenResources* resources = XRRGetScreenResources(display, root);
    const bool primary = resources != nullptr && resources->noutput > 0;
    if (primary) XRRSetOutputPrimary(display, root, resources->outputs[0]);
    if (resources != nullptr) XRRFreeScreenResources(resources);
    XSync(display, False);
    XCloseDisplay(display);
    return primary;
}

}  // namespace

std::string artefact_dir() { return QUIETWAY_TRAY_ARTEFACTS; }

ChildResult DesktopSession::run(const std::vector<std::string>& argv) {
    return run_captured(argv, scratch_.str());
}

// Starts trayer and waits for its panel; a panel that has not appeared in 20 s is started
// again, up to three times. Once up, it stays: the server resets (and forgets the root
// window's properties and background) whenever its last client leaves. Empty when the panel
// is up, else what the last attempt saw.
std::string DesktopSession::start_panel() {
    const std::string log = artefact_dir() + "/trayer.log";
    std::filesystem::remove(log);
    std::ostringstream report;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        tray_.reset();  // ends an earlier attempt's trayer
        tray_.emplace(std::vector<std::string>{"trayer", "--edge", "bottom", "--align", "right",
                                               "--widthtype", "request", "--height",
                                               std::to_string(kPanelHeight), "--SetDockType",
                                               "true", "--SetPartialStrut", "true", "--transparent",
                                               "false", "--tint", "0x2b2b2b"},
                      ChildOptions{.output_file = log});
        if (!tray_->started()) {
            return "it could not be started";
        }
        if (wait_until([&] { return find_window("^panel$").has_value(); },
                       std::chrono::seconds(20))) {
            return "";
        }
        const ChildResult search = run({"xdotool", "search", "--name", "^panel$"});
        report.str("");
        report << "attempt " << attempt << ", trayer " << (tray_->running() ? "running" : "ended")
               << ", a search for any panel window ended with " << search.exit_code << " ("
               << search.out << search.err << "), its output in " << log;
    }
    return report.str();
}

DesktopSession::DesktopSession() {
    if (std::getenv("DISPLAY") == nullptr) {
        problem_ = "no DISPLAY: run under xvfb-run";
        return;
    }
    std::filesystem::create_directories(artefact_dir());
    if (const std::string failure = start_panel(); !failure.empty()) {
        problem_ = "trayer did not come up: " + failure;
    } else if (!publish_work_area(kPanelHeight)) {
        problem_ = "no monitor to make the primary one";
    } else {
        // A backdrop, so that the screenshots show where the windows end.
        const std::string backdrop = (scratch_ / "backdrop.png").string();
        run({"/usr/bin/convert", "-size", "1280x800", "gradient:#56708f-#1d2733", backdrop});
        run({"/usr/bin/display", "-window", "root", backdrop});
    }
}

std::optional<std::string> DesktopSession::find_window(const std::string& name) {
    const ChildResult found = run({"xdotool", "search", "--onlyvisible", "--name", name});
    if (found.exit_code != 0 || found.out.empty()) return std::nullopt;
    return found.out.substr(0, found.out.find('\n'));
}

std::optional<WindowGeometry> DesktopSession::geometry(const std::string& window) {
    const ChildResult shell = run({"xdotool", "getwindowgeometry", "--shell", window});
    if (shell.exit_code != 0) return std::nullopt;
    WindowGeometry result;
    std::istringstream lines(shell.out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        const int value = std::atoi(line.c_str() + equals + 1);
        if (key == "X") result.x = value;
        if (key == "Y") result.y = value;
        if (key == "WIDTH") result.width = value;
        if (key == "HEIGHT") result.height = value;
    }
    return result;
}

bool DesktopSession::xdotool(const std::vector<std::string>& words) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), words.begin(), words.end());
    return run(argv).exit_code == 0;
}

bool DesktopSession::click(int x, int y, int button) {
    return xdotool(
        {"mousemove", std::to_string(x), std::to_string(y), "click", std::to_string(button)});
}

bool DesktopSession::keys(const std::vector<std::string>& names) {
    std::vector<std::string> words{"key", "--delay", "150"};
    words.insert(words.end(), names.begin(), names.end());
    return xdotool(words);
}

bool DesktopSession::screenshot(const std::string& file_name) {
    return run({"/usr/bin/import", "-window", "root", artefact_dir() + "/" + file_name})
               .exit_code == 0;
}

}  // namespace quietway::testing
