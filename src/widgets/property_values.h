// Reading the widgets' published property values from a stored layout.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "component.h"
#include "graphics.h"

// A colour stored as a name (clBlue, clBtnFace) or as a number; EReadError otherwise.
TColor ColorProperty(const TPropValue& value);

// The position of an identifier in names (ignoring ASCII case), for enumerations stored by name;
// EReadError when it is none of them.
int EnumProperty(const TPropValue& value, std::initializer_list<std::string_view> names);
