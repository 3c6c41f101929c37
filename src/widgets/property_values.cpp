#include "property_values.h"

#include <cstdint>

#include "exceptions.h"
#include "sysutils.h"

namespace {

[[noreturn]] void InvalidValue() {
    throw EReadError("Invalid property value");
}

}  // namespace

TColor ColorProperty(const TPropValue& value) {
    if (value.kind == TPropValue::Kind::Ident) {
        TColor color = 0;
        if (!IdentToColor(value.text, color)) {
            InvalidValue();
        }
        return color;
    }
    if (value.kind != TPropValue::Kind::Integer || value.integer < INT32_MIN || value.integer > UINT32_MAX) {
        InvalidValue();
    }
    return static_cast<TColor>(value.integer);
}

int EnumProperty(const TPropValue& value, std::initializer_list<std::string_view> names) {
    const std::string& ident = value.AsIdent();
    int index = 0;
    for (std::string_view name : names) {
        if (SameTextAscii(ident, name)) {
            return index;
        }
        ++index;
    }
    InvalidValue();
}
