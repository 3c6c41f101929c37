// Tables of published properties. A class lists the properties it publishes, each with how its
// stored value is read and where it goes, and its SetProperty walks that list before it asks its
// base class:
//
//     constexpr TPublishedProperty<TLabel> kLabelProperties[] = {
//         {"Transparent", Setter<&TLabel::SetTransparent, ReadBoolean>},
//         {"OnClick", Event<&TLabel::OnClick>},
//     };
//     bool TLabel::SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context)
//     {
//         return SetPublished(*this, kLabelProperties, name, value, context) ||
//                TGraphicControl::SetProperty(name, value, context);
//     }
//
// A value is read completely before anything is stored, so a value of the wrong kind raises
// EReadError and leaves the component as it was.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

#include "framework/color.h"
#include "framework/component.h"
#include "framework/property_value.h"
#include "framework/sysutils.h"

template <typename T>
struct TPublishedProperty {
    std::string_view name;
    void (*set)(T& target, const TPropValue& value, const TReaderContext& context);
};

// Sets the property called name (compared ignoring ASCII case) when table lists it; false when it
// does not, so that the caller can ask its base class.
template <typename T, size_t N>
bool SetPublished(T& target,
                  const TPublishedProperty<T> (&table)[N],
                  std::string_view name,
                  const TPropValue& value,
                  const TReaderContext& context) {
    for (const TPublishedProperty<T>& property : table) {
        if (SameTextAscii(name, property.name)) {
            property.set(target, value, context);
            return true;
        }
    }
    return false;
}

// How a table entry stores its value. Read is one of the readers below or a function of the same
// shape that turns a value into an enumeration or a set of the class.

// Calls the member function Set with the value read.
template <auto Set, auto Read>
inline constexpr auto Setter =
    [](auto& target, const TPropValue& value, const TReaderContext&) { (target.*Set)(Read(value)); };

// Stores the value read in the data member Field.
template <auto Field, auto Read>
inline constexpr auto Stored =
    [](auto& target, const TPropValue& value, const TReaderContext&) { target.*Field = Read(value); };

// Binds the window's handler of the name read to the event member Handler, of the event's own type.
template <auto Handler>
inline constexpr auto Event = [](auto& target, const TPropValue& value, const TReaderContext& context) {
    using EventType = std::remove_cvref_t<decltype(target.*Handler)>;
    target.*Handler = context.template Method<EventType>(value.AsIdent());
};

// Accepts a value that Read accepts and keeps nothing of it (figures of the design screen).
template <auto Read>
inline constexpr auto Ignored =
    [](auto&, const TPropValue& value, const TReaderContext&) { static_cast<void>(Read(value)); };

// The readers of the kinds that every class uses.
inline int32_t ReadInteger(const TPropValue& value) {
    return value.AsInteger();
}
inline bool ReadBoolean(const TPropValue& value) {
    return value.AsBoolean();
}
inline TColor ReadColor(const TPropValue& value) {
    return value.AsColor();
}
inline const std::string& ReadString(const TPropValue& value) {
    return value.AsString();
}
// An enumeration stored by name: Names[i] (an array of std::string_view) names the value i.
template <typename E, const auto& Names>
E ReadEnum(const TPropValue& value) {
    return static_cast<E>(value.AsEnum(Names));
}
// A set stored as a list of names: bit i stands for Names[i].
template <typename S, const auto& Names>
S ReadSet(const TPropValue& value) {
    return static_cast<S>(value.AsSet(Names));
}
