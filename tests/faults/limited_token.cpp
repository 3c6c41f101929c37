// Linked into the test builds of the setup and the uninstaller only: with TANDREL_TOKEN=limited in
// the environment the program sees the limited token of an administrator, which Wine never gives
// (its processes all hold the full one), so that the restart through the elevation prompt can be
// tried there. Wine's prompt starts the program at once, in the same environment: the restarted
// run sees the limited token too, and only its restart switch keeps it from restarting again.
#include <windows.h>

#include <cstring>

#include "lifecycle/elevation_win32.h"

namespace {

TTokenElevation LimitedToken() {
    return TTokenElevation::Limited;
}

const bool kInstalled = [] {
    char value[16] = {};
    const DWORD length = ::GetEnvironmentVariableA("TANDREL_TOKEN", value, sizeof value);
    if (length > 0 && length < sizeof value && std::strcmp(value, "limited") == 0) {
        ElevationProbe = &LimitedToken;
    }
    return true;
}();

}  // namespace
