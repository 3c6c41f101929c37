// One published property's value as a stored layout holds it, and the one way of reading it as
// the type a property wants. Every SetProperty reads its values through these accessors; a value
// of another kind, out of range or not among the names allowed raises EReadError "Invalid
// property value", which the layout reader prefixes with the object, class and property.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "framework/color.h"

struct TPropValue {
    enum class Kind { Integer, Float, String, Ident, Set, Binary, StringList };
    Kind kind = Kind::Integer;
    int64_t integer = 0;
    double number = 0;
    std::string text;                // String, Ident
    std::vector<std::string> items;  // Set, StringList
    std::vector<uint8_t> bytes;      // Binary

    // An integer within min..max.
    int32_t AsInteger(int32_t min = INT32_MIN, int32_t max = INT32_MAX) const;
    const std::string& AsString() const;
    const std::string& AsIdent() const;
    // The identifiers True and False.
    bool AsBoolean() const;
    // A colour name (clBtnFace, clBlue) or a number: a signed or unsigned 32-bit value.
    TColor AsColor() const;
    // An identifier among names, ignoring ASCII case: its position in names.
    int AsEnum(std::span<const std::string_view> names) const;
    int AsEnum(std::initializer_list<std::string_view> names) const { return AsEnum(std::span(names)); }
    template <typename E>
    E AsEnum(std::initializer_list<std::string_view> names) const {
        return static_cast<E>(AsEnum(names));
    }
    // A set of identifiers among names: bit i stands for names[i].
    uint32_t AsSet(std::span<const std::string_view> names) const;
    uint32_t AsSet(std::initializer_list<std::string_view> names) const { return AsSet(std::span(names)); }
    // Binary data ({...}) and a list of strings (('a' 'b')).
    const std::vector<uint8_t>& AsBinary() const;
    const std::vector<std::string>& AsStrings() const;
};
