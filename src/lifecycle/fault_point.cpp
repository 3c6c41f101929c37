#include "lifecycle/fault_point.h"

TWrittenHook WrittenHook = nullptr;
TFaultHook OpenHook = nullptr;
TFaultHook ListedHook = nullptr;
