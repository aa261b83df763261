#pragma once

// The tray's pictures and sound, drawn and recorded by the project itself.
//
// tray/icons builds them (its CMakeLists.txt is optional for the rest of tray/):
//   - CMake target `quietway_tray_assets`, which produces the files below;
//   - CMake variable QUIETWAY_TRAY_ICON_DIR, the build-tree directory holding them:
//       started.ico    started.png       (connected)
//       stopped.ico    stopped.png
//       connecting1.ico connecting1.png  (first connecting frame)
//       connecting2.ico connecting2.png  (second connecting frame)
//       notify.wav                       (the short notification sound)
//     Each .ico holds 32-bit images of 16, 32, 48, 64 and 128 pixels; each .png is one
//     square image for the desktop's indicator.
// The Windows program compiles the .ico files into its resources under the numbers below and
// installs notify.wav beside itself as kNotificationSoundFile.
namespace quietway {

enum class TrayIcon { started, stopped, connecting1, connecting2 };

// Resource numbers of the four icons in the Windows program.
inline constexpr int kIconResourceStarted = 101;
inline constexpr int kIconResourceStopped = 102;
inline constexpr int kIconResourceConnecting1 = 103;
inline constexpr int kIconResourceConnecting2 = 104;

int icon_resource(TrayIcon icon);
// The file stem: "started", "stopped", "connecting1" or "connecting2".
const char* icon_file_stem(TrayIcon icon);

// The sound played when a popup appears, looked up beside the program.
inline constexpr const char* kNotificationSoundFile = "beep-04.wav";

}  // namespace quietway
