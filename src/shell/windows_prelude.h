// Force-included (-include) into the shell library and its tests: <windows.h> defines the legacy
// macro FreeModule(h), which clashes with the framework's handle helper of the same name in
// unique_handle.h. Nothing here uses the macro, so it is removed before any other header is read.
#pragma once

#include <windows.h>

#undef FreeModule
