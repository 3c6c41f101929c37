#include "framework/layout.h"

#include <cctype>
#include <map>

#include "framework/exceptions.h"
#include "framework/sysutils.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Class registry

std::map<std::string, TComponentFactory>& Classes() {
    static std::map<std::string, TComponentFactory> classes;  // keys in upper case
    return classes;
}

// ---------------------------------------------------------------------------------------------
// Parser

bool IsIdentStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool IsIdentChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    TLayoutObject ParseRoot() {
        SkipBlanks();
        TLayoutObject root = ParseObject();
        SkipBlanks();
        if (!AtEnd()) {
            Fail("text after the last 'end'");
        }
        return root;
    }

  private:
    [[noreturn]] void Fail(const std::string& what) const {
        throw EReadError(Format("Layout line %d: %s", line_, what.c_str()));
    }

    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

    // Skips blanks, line ends and "//" comments.
    void SkipBlanks() {
        while (!AtEnd()) {
            const char c = text_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
            } else if (c == ' ' || c == '\t' || c == '\r') {
                ++pos_;
            } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/') {
                while (!AtEnd() && text_[pos_] != '\n') {
                    ++pos_;
                }
            } else {
                break;
            }
        }
    }

    std::string Ident() {
        SkipBlanks();
        if (!IsIdentStart(Peek())) {
            Fail("name expected");
        }
        const size_t start = pos_;
        while (!AtEnd() && IsIdentChar(text_[pos_])) {
            ++pos_;
        }
        return std::string(text_.substr(start, pos_ - start));
    }

    void Expect(char c) {
        SkipBlanks();
        if (Peek() != c) {
            Fail(Format("'%c' expected", c));
        }
        ++pos_;
    }

    TLayoutObject ParseObject() {
        TLayoutObject object;
        object.line = line_;
        const std::string keyword = Ident();
        if (!SameTextAscii(keyword, "object")) {
            Fail("'object' expected");
        }
        object.name = Ident();
        Expect(':');
        object.className = Ident();
        for (;;) {
            SkipBlanks();
            if (AtEnd()) {
                Fail("'end' expected");
            }
            const size_t mark = pos_;
            const int markLine = line_;
            const std::string word = Ident();
            if (SameTextAscii(word, "end")) {
                return object;
            }
            if (SameTextAscii(word, "object")) {
                pos_ = mark;
                line_ = markLine;
                object.children.push_back(ParseObject());
                continue;
            }
            TLayoutProperty property;
            property.line = markLine;
            property.name = word;
            while (Peek() == '.') {
                ++pos_;
                property.name += '.';
                property.name += Ident();
            }
            Expect('=');
            property.value = Value();
            object.properties.push_back(std::move(property));
        }
    }

    TPropValue Value() {
        SkipBlanks();
        const char c = Peek();
        TPropValue value;
        if (c == '\'' || c == '#') {
            value.kind = TPropValue::Kind::String;
            value.text = StringValue();
        } else if (c == '-' || c == '+' || std::isdigit(static_cast<unsigned char>(c)) != 0) {
            NumberValue(value);
        } else if (IsIdentStart(c)) {
            value.kind = TPropValue::Kind::Ident;
            value.text = Ident();
        } else if (c == '[') {
            ++pos_;
            value.kind = TPropValue::Kind::Set;
            SkipBlanks();
            if (Peek() == ']') {
                ++pos_;
                return value;
            }
            for (;;) {
                value.items.push_back(Ident());
                SkipBlanks();
                if (Peek() == ']') {
                    ++pos_;
                    return value;
                }
                Expect(',');
            }
        } else if (c == '{') {
            ++pos_;
            value.kind = TPropValue::Kind::Binary;
            BinaryValue(value.bytes);
        } else if (c == '(') {
            ++pos_;
            value.kind = TPropValue::Kind::StringList;
            for (;;) {
                SkipBlanks();
                if (Peek() == ')') {
                    ++pos_;
                    return value;
                }
                if (Peek() != '\'' && Peek() != '#') {
                    Fail("string expected");
                }
                value.items.push_back(StringValue());
            }
        } else {
            Fail("value expected");
        }
        return value;
    }

    // 'quoted' parts ('' is one quote) and #nn characters, side by side or joined with "+".
    std::string StringValue() {
        std::string result;
        for (;;) {
            const char c = Peek();
            if (c == '\'') {
                ++pos_;
                for (;;) {
                    if (AtEnd() || text_[pos_] == '\n') {
                        Fail("unterminated string");
                    }
                    const char s = text_[pos_++];
                    if (s == '\'') {
                        if (Peek() == '\'') {
                            result += '\'';
                            ++pos_;
                        } else {
                            break;
                        }
                    } else {
                        result += s;
                    }
                }
            } else if (c == '#') {
                ++pos_;
                int code = 0;
                if (!std::isdigit(static_cast<unsigned char>(Peek()))) {
                    Fail("character code expected after '#'");
                }
                while (std::isdigit(static_cast<unsigned char>(Peek())) != 0) {
                    code = code * 10 + (text_[pos_++] - '0');
                    if (code > 255) {
                        Fail("character code above 255");
                    }
                }
                result += static_cast<char>(code);
            } else {
                const size_t mark = pos_;
                const int markLine = line_;
                SkipBlanks();
                if (Peek() == '+') {
                    ++pos_;
                    SkipBlanks();
                    if (Peek() != '\'' && Peek() != '#') {
                        Fail("string expected after '+'");
                    }
                    continue;
                }
                pos_ = mark;
                line_ = markLine;
                return result;
            }
        }
    }

    void NumberValue(TPropValue& value) {
        const size_t start = pos_;
        if (Peek() == '-' || Peek() == '+') {
            ++pos_;
        }
        bool digits = false;
        while (std::isdigit(static_cast<unsigned char>(Peek())) != 0) {
            ++pos_;
            digits = true;
        }
        bool fraction = false;
        if (Peek() == '.' && pos_ + 1 < text_.size() &&
            std::isdigit(static_cast<unsigned char>(text_[pos_ + 1]))) {
            fraction = true;
            ++pos_;
            while (std::isdigit(static_cast<unsigned char>(Peek())) != 0) {
                ++pos_;
            }
        }
        const std::string number(text_.substr(start, pos_ - start));
        if (!digits) {
            Fail("number expected");
        }
        // The digits as one integer, and how many of them follow the point; zeros that end the
        // fraction change nothing and are left out.
        const bool negative = number[0] == '-';
        uint64_t digitsValue = 0;
        int decimals = 0;
        int pendingZeros = 0;
        bool afterPoint = false;
        for (const char c : number) {
            if (c == '.') {
                afterPoint = true;
            } else if (c >= '0' && c <= '9') {
                if (afterPoint && c == '0') {
                    ++pendingZeros;
                    continue;
                }
                for (; pendingZeros >= 0; --pendingZeros) {
                    digitsValue = digitsValue * 10 + (pendingZeros == 0 ? static_cast<uint64_t>(c - '0') : 0);
                    decimals += afterPoint ? 1 : 0;
                    // Beyond 2^53 a double no longer holds every integer.
                    if (digitsValue > uint64_t{1} << 53) {
                        Fail("number out of range");
                    }
                }
                pendingZeros = 0;
            }
        }
        if (fraction) {
            // Both operands are exact (an integer below 2^53, a power of ten up to 10^22), so the
            // one division rounds as a correctly rounded conversion of the text does.
            if (decimals > 22) {
                Fail("number out of range");
            }
            double scale = 1;
            for (int i = 0; i < decimals; ++i) {
                scale *= 10;
            }
            const double magnitude = static_cast<double>(digitsValue) / scale;
            value.kind = TPropValue::Kind::Float;
            value.number = negative ? -magnitude : magnitude;
            return;
        }
        // Integers up to the 32-bit unsigned range (colours) are taken; longer ones are refused.
        if (number.size() > 12) {
            Fail("number out of range");
        }
        value.kind = TPropValue::Kind::Integer;
        value.integer = negative ? -static_cast<int64_t>(digitsValue) : static_cast<int64_t>(digitsValue);
        if (value.integer < INT32_MIN || value.integer > UINT32_MAX) {
            Fail("number out of range");
        }
    }

    void BinaryValue(std::vector<uint8_t>& bytes) {
        int high = -1;
        for (;;) {
            SkipBlanks();
            if (AtEnd()) {
                Fail("'}' expected");
            }
            const char c = text_[pos_++];
            if (c == '}') {
                if (high >= 0) {
                    Fail("odd number of hexadecimal digits");
                }
                return;
            }
            const int digit = HexDigitValue(c);
            if (digit < 0) {
                Fail("hexadecimal digit expected");
            }
            if (high < 0) {
                high = digit;
            } else {
                bytes.push_back(static_cast<uint8_t>(high * 16 + digit));
                high = -1;
            }
        }
    }

    std::string_view text_;
    size_t pos_ = 0;
    int line_ = 1;
};

// ---------------------------------------------------------------------------------------------
// Reader

bool IsScaled(std::string_view name) {
    static constexpr const char* kScaled[] = {"Left",        "Top",          "Width",      "Height",
                                              "ClientWidth", "ClientHeight", "ItemHeight", "Font.Height"};
    for (const char* scaled : kScaled) {
        if (SameTextAscii(name, scaled)) {
            return true;
        }
    }
    return false;
}

class Reader {
  public:
    Reader(TComponent& root, const TReaderContext& context, int pixelsPerInch)
        : root_(root), context_(context), pixelsPerInch_(pixelsPerInch) {}

    void Read(const TLayoutObject& layout) {
        if (!SameTextAscii(layout.className, root_.ClassName())) {
            throw EReadError(Format("Error reading %s: the layout is of class %s, not %s",
                                    layout.name.c_str(), layout.className.c_str(), root_.ClassName()));
        }
        try {
            ReadObject(root_, layout);
        } catch (...) {
            for (TComponent* component : read_) {
                component->SetLoading(false);
            }
            throw;
        }
        // Every object is complete now: each one finishes its own set-up, the window last.
        for (auto it = read_.begin() + 1; it != read_.end(); ++it) {
            (*it)->SetLoading(false);
            (*it)->Loaded();
        }
        root_.SetLoading(false);
        root_.Loaded();
    }

  private:
    void ReadObject(TComponent& target, const TLayoutObject& layout) {
        target.SetLoading(true);
        read_.push_back(&target);
        target.SetName(layout.name);
        for (const TLayoutProperty& property : layout.properties) {
            SetOne(target, layout, property);
        }
        for (const TLayoutObject& child : layout.children) {
            const TComponentFactory* factory = FindClassFactory(child.className);
            if (factory == nullptr) {
                throw EReadError(Format("Error reading %s (line %d): class %s not found", child.name.c_str(),
                                        child.line, child.className.c_str()));
            }
            TComponent* component = (*factory)(&root_);
            component->SetName(child.name);
            try {
                component->SetParentComponent(&target);
            } catch (const Exception& error) {
                throw EReadError(Format("Error reading %s (line %d): %s", child.name.c_str(), child.line,
                                        error.Message().c_str()));
            }
            ReadObject(*component, child);
        }
    }

    void SetOne(TComponent& target, const TLayoutObject& layout, const TLayoutProperty& property) {
        TPropValue value = property.value;
        if (value.kind == TPropValue::Kind::Integer && IsScaled(property.name)) {
            // MulDiv rounding, half away from zero.
            const int64_t product = value.integer * pixelsPerInch_;
            value.integer = product >= 0 ? (product + 60) / 120 : -((-product + 60) / 120);
        }
        bool known = false;
        try {
            known = target.SetProperty(property.name, value, context_);
        } catch (const std::exception& error) {
            throw EReadError(Format("Error reading %s.%s (%s, line %d): %s", layout.name.c_str(),
                                    property.name.c_str(), target.ClassName(), property.line, error.what()));
        }
        if (!known) {
            throw EReadError(Format("Error reading %s (%s, line %d): property %s does not exist",
                                    layout.name.c_str(), target.ClassName(), property.line,
                                    property.name.c_str()));
        }
    }

    TComponent& root_;
    const TReaderContext& context_;
    int pixelsPerInch_;
    std::vector<TComponent*> read_;
};

}  // namespace

void RegisterComponentClass(const std::string& name, TComponentFactory factory) {
    Classes()[UpperCaseAscii(name)] = std::move(factory);
}

const TComponentFactory* FindClassFactory(std::string_view name) {
    const auto found = Classes().find(UpperCaseAscii(name));
    return found == Classes().end() ? nullptr : &found->second;
}

TLayoutObject ParseLayout(std::string_view text) {
    return Parser(text).ParseRoot();
}

void ReadLayoutInto(TComponent& root,
                    const TLayoutObject& layout,
                    const TReaderContext& context,
                    int pixelsPerInch) {
    Reader(root, context, pixelsPerInch).Read(layout);
}
