#include "framework/property_value.h"

#include "framework/exceptions.h"
#include "framework/sysutils.h"

namespace {

[[noreturn]] void ThrowInvalidValue() {
    throw EReadError(msg::kInvalidPropertyValue);
}

// The position of ident among names, ignoring ASCII case; -1 when it is none of them.
int IndexOfName(std::string_view ident, std::span<const std::string_view> names) {
    int index = 0;
    for (std::string_view name : names) {
        if (SameTextAscii(ident, name)) {
            return index;
        }
        ++index;
    }
    return -1;
}

}  // namespace

int32_t TPropValue::AsInteger(int32_t min, int32_t max) const {
    if (kind != Kind::Integer || integer < min || integer > max) {
        ThrowInvalidValue();
    }
    return static_cast<int32_t>(integer);
}

const std::string& TPropValue::AsString() const {
    if (kind != Kind::String) {
        ThrowInvalidValue();
    }
    return text;
}

const std::string& TPropValue::AsIdent() const {
    if (kind != Kind::Ident) {
        ThrowInvalidValue();
    }
    return text;
}

bool TPropValue::AsBoolean() const {
    return AsEnum({"False", "True"}) == 1;
}

TColor TPropValue::AsColor() const {
    if (kind == Kind::Ident) {
        TColor color = 0;
        if (!IdentToColor(text, color)) {
            ThrowInvalidValue();
        }
        return color;
    }
    if (kind != Kind::Integer || integer < INT32_MIN || integer > UINT32_MAX) {
        ThrowInvalidValue();
    }
    return static_cast<TColor>(integer);
}

int TPropValue::AsEnum(std::span<const std::string_view> names) const {
    const int index = IndexOfName(AsIdent(), names);
    if (index < 0) {
        ThrowInvalidValue();
    }
    return index;
}

uint32_t TPropValue::AsSet(std::span<const std::string_view> names) const {
    if (kind != Kind::Set) {
        ThrowInvalidValue();
    }
    uint32_t set = 0;
    for (const std::string& item : items) {
        const int index = IndexOfName(item, names);
        if (index < 0) {
            ThrowInvalidValue();
        }
        set |= 1u << index;
    }
    return set;
}

const std::vector<uint8_t>& TPropValue::AsBinary() const {
    if (kind != Kind::Binary) {
        ThrowInvalidValue();
    }
    return bytes;
}

const std::vector<std::string>& TPropValue::AsStrings() const {
    if (kind != Kind::StringList) {
        ThrowInvalidValue();
    }
    return items;
}
