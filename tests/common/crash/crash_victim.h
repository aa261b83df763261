#pragma once

// A failed parameter check in the C runtime, as each platform's runtime reports it.
int fail_runtime_check();
