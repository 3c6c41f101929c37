// Stored window layouts: a text form of the component tree of one window.
//
//     object frmMain: TfrmMain          -- the window itself (class checked against the root)
//       Left = 125                      -- integer (optionally signed)
//       Caption = 'it''s'#13#10'x'      -- string: quoted parts with '' for a quote, #nn characters
//       Font.Style = [fsBold, fsItalic] -- set of identifiers; dotted names reach sub-objects
//       Visible = False                 -- identifier (True, False, enumeration values, colours)
//       OnClick = btnContinueClick      -- event: the name of one of the window's handlers
//       Picture.Data = {424D3E...}      -- binary, hexadecimal digits, may span lines
//       Items.Strings = ('a' 'b')       -- a list of strings
//       object btnContinue: TButton     -- a nested object: owned by the window, parented by the
//         ...                           -- object it is written in
//       end
//     end
//
// Reading creates each nested object through the class registry, sets its properties by name
// through SetProperty (positions, sizes, font heights and row heights scaled by the screen's
// pixels per inch / 120), binds event names through the window's TReaderContext and finally calls
// Loaded() on every object read, the window last. Any error raises EReadError naming the object,
// its class and the property.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/component.h"

// A factory that makes a component of one class with the given owner.
using TComponentFactory = std::function<TComponent*(TComponent* owner)>;

// Makes class name known to the layout reader (a later registration of a name replaces it).
void RegisterComponentClass(const std::string& name, TComponentFactory factory);
template <typename T>
void RegisterComponentClass(const std::string& name) {
    RegisterComponentClass(name, [](TComponent* owner) -> TComponent* { return new T(owner); });
}
// The same under its short name. <windows.h> defines RegisterClass as a macro (RegisterClassA), so
// these are inline: they work with or without it.
template <typename T>
inline void RegisterClass(const std::string& name) {
    RegisterComponentClass<T>(name);
}
inline void RegisterClass(const std::string& name, TComponentFactory factory) {
    RegisterComponentClass(name, std::move(factory));
}
// A class for the layout reader: its name and what makes one with a given owner.
struct TComponentClass {
    const char* name;
    TComponent* (*make)(TComponent* owner);
};
template <typename T>
constexpr TComponentClass ComponentClass(const char* name) {
    return {name, [](TComponent* owner) -> TComponent* { return new T(owner); }};
}
// Registers every class of Classes (an array of TComponentClass) on the first call only, so that
// any later call keeps what was registered in between.
template <const auto& Classes>
void RegisterComponentClassesOnce() {
    static const bool registered = [] {
        for (const TComponentClass& c : Classes) {
            RegisterComponentClass(c.name, c.make);
        }
        return true;
    }();
    static_cast<void>(registered);
}
// The factory of a class name (ignoring ASCII case), or nullptr.
const TComponentFactory* FindClassFactory(std::string_view name);

struct TLayoutProperty {
    std::string name;
    TPropValue value;
    int line = 0;
};

struct TLayoutObject {
    std::string name;
    std::string className;
    int line = 0;
    std::vector<TLayoutProperty> properties;
    std::vector<TLayoutObject> children;
};

// Parses a layout text; EReadError "Layout line N: ..." on a syntax error.
TLayoutObject ParseLayout(std::string_view text);

// Reads a parsed layout into root: sets root's properties and creates its nested objects (owned
// by root). Integers of the scaled properties (Left, Top, Width, Height, ClientWidth, ClientHeight,
// ItemHeight, Font.Height) become MulDiv(value, pixelsPerInch, 120).
void ReadLayoutInto(TComponent& root,
                    const TLayoutObject& layout,
                    const TReaderContext& context,
                    int pixelsPerInch);
