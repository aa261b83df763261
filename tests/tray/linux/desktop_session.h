#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

// The X display the tests run in (xvfb-run) and what they do on it with the desktop's own
// tools: an XEMBED tray (trayer) for the indicator's status icon, xdotool for windows, mouse
// and keys, ImageMagick for the backdrop and the screenshots.
namespace quietway::testing {

struct WindowGeometry {
    int x = 0, y = 0, width = 0, height = 0;
};

class DesktopSession {
public:
    // Paints a backdrop and starts the tray along the bottom edge.
    DesktopSession();
    ~DesktopSession() = default;

    // Empty when the display and the panel are ready, else what is missing.
    const std::string& problem() const { return problem_; }
    static constexpr int kPanelHeight = 24;

    // The first visible window whose name matches the regular expression `name`.
    std::optional<std::string> find_window(const std::string& name);
    std::optional<WindowGeometry> geometry(const std::string& window);
    // Runs xdotool with `words`; true when it succeeded.
    bool xdotool(const std::vector<std::string>& words);
    bool click(int x, int y, int button = 1);
    bool keys(const std::vector<std::string>& names);
    // Screenshot of the whole screen into the artefact directory.
    bool screenshot(const std::string& file_name);

private:
    ChildResult run(const std::vector<std::string>& argv);
    std::string start_panel();

    TempDir scratch_;
    std::optional<ChildProcess> tray_;
    std::string problem_;
};

// Where screenshots go.
std::string artefact_dir();

}  // namespace quietway::testing
