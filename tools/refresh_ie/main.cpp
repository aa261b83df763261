// refresh_ie.exe: started without arguments in the user's session after a proxy change.
#include "tools/refresh_ie/browser_refresh.h"

int main() { return quietway::refresh_browser_proxy_settings() ? 0 : 1; }
