// Event types of the framework. An event is a std::function member: assigned or not, one handler
// each; values that a handler may change are passed by reference.
#pragma once

#include <functional>

#include "framework/object.h"

using TNotifyEvent = std::function<void(TObject* Sender)>;
using TCloseQueryEvent = std::function<void(TObject* Sender, bool& CanClose)>;
using TKeyPressEvent = std::function<void(TObject* Sender, char& Key)>;
