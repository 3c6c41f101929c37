#include "framework/sysutils.h"

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <limits>

#include "framework/exceptions.h"

namespace {

// One conversion's flags, field width and precision (-1: none given).
struct FieldFormat {
    bool left = false;
    bool zero = false;
    bool plus = false;
    bool space = false;
    size_t width = 0;
    int precision = -1;
};

// prefix (a sign), then zeros, then text, padded to the field's width.
void PutField(std::string& out,
              const FieldFormat& field,
              std::string_view prefix,
              size_t zeros,
              std::string_view text) {
    const size_t length = prefix.size() + zeros + text.size();
    const size_t fill = field.width > length ? field.width - length : 0;
    const bool zeroFill = field.zero && !field.left;
    if (!field.left && !zeroFill) {
        out.append(fill, ' ');
    }
    out += prefix;
    out.append(zeroFill ? fill : 0, '0');
    out.append(zeros, '0');
    out += text;
    if (field.left) {
        out.append(fill, ' ');
    }
}

void PutInteger(std::string& out,
                FieldFormat field,
                uintmax_t magnitude,
                bool negative,
                unsigned base,
                bool upper) {
    const char* const digitSet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char digits[std::numeric_limits<uintmax_t>::digits];
    size_t count = 0;
    // A precision of 0 prints nothing for the value 0.
    for (; magnitude != 0 || (count == 0 && field.precision != 0); magnitude /= base) {
        digits[count++] = digitSet[magnitude % base];
    }
    std::reverse(digits, digits + count);
    const size_t precision = field.precision < 0 ? 0 : static_cast<size_t>(field.precision);
    if (field.precision >= 0) {
        field.zero = false;
    }
    const char* const sign = negative ? "-" : field.plus ? "+" : field.space ? " " : "";
    PutField(out, field, sign, precision > count ? precision - count : 0, std::string_view(digits, count));
}

}  // namespace

std::string FormatList(const char* format, va_list args) {
    std::string out;
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        const char* const start = p++;
        FieldFormat field;
        for (;; ++p) {
            if (*p == '-') {
                field.left = true;
            } else if (*p == '0') {
                field.zero = true;
            } else if (*p == '+') {
                field.plus = true;
            } else if (*p == ' ') {
                field.space = true;
            } else {
                break;
            }
        }
        if (*p == '*') {
            const int width = va_arg(args, int);
            field.left = field.left || width < 0;
            field.width = width < 0 ? 0 - static_cast<size_t>(width) : static_cast<size_t>(width);
            ++p;
        } else {
            for (; *p >= '0' && *p <= '9'; ++p) {
                field.width = field.width * 10 + static_cast<size_t>(*p - '0');
            }
        }
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                field.precision = std::max(va_arg(args, int), -1);
                ++p;
            } else {
                field.precision = 0;
                for (; *p >= '0' && *p <= '9'; ++p) {
                    field.precision = field.precision * 10 + (*p - '0');
                }
            }
        }
        // The argument's size: hh, h, l, ll, z, j or t.
        char size = ' ';
        if (*p == 'h' || *p == 'l') {
            size = *p++;
            if (*p == size) {
                size = static_cast<char>(UpperCaseAscii(size));
                ++p;
            }
        } else if (*p == 'z' || *p == 'j' || *p == 't') {
            size = *p++;
        }
        const char conversion = *p;
        const bool isSigned = conversion == 'd' || conversion == 'i';
        if (isSigned || conversion == 'u' || conversion == 'x' || conversion == 'X') {
            // The argument's bits, and how many it has; a signed one is negative when the highest
            // is set.
            uintmax_t value = 0;
            unsigned bits = 0;
            switch (size) {
                case 'H':
                    value = va_arg(args, unsigned);
                    bits = 8;
                    break;
                case 'h':
                    value = va_arg(args, unsigned);
                    bits = 16;
                    break;
                case 'l':
                    value = va_arg(args, unsigned long);
                    bits = sizeof(long) * 8;
                    break;
                case 'L':
                    value = va_arg(args, unsigned long long);
                    bits = sizeof(long long) * 8;
                    break;
                case 'z':
                case 't':
                    value = va_arg(args, size_t);
                    bits = sizeof(size_t) * 8;
                    break;
                case 'j':
                    value = va_arg(args, uintmax_t);
                    bits = sizeof(uintmax_t) * 8;
                    break;
                default:
                    value = va_arg(args, unsigned);
                    bits = sizeof(unsigned) * 8;
                    break;
            }
            const uintmax_t mask = bits >= sizeof(uintmax_t) * 8 ? ~uintmax_t{0} : (uintmax_t{1} << bits) - 1;
            value &= mask;
            const bool negative = isSigned && ((value >> (bits - 1)) & 1) != 0;
            if (!isSigned) {
                // The runtime's printf writes the blank of " " before an unsigned number too (and
                // ignores "+"): so does this one.
                field.plus = false;
                field.space = field.space && conversion == 'u';
            }
            PutInteger(out, field, negative ? (0 - value) & mask : value, negative,
                       isSigned || conversion == 'u' ? 10 : 16, conversion == 'X');
        } else if (conversion == 'c' && size == ' ') {
            const char c = static_cast<char>(va_arg(args, int));
            field.zero = false;
            PutField(out, field, {}, 0, std::string_view(&c, 1));
        } else if (conversion == 's' && size == ' ') {
            const char* text = va_arg(args, const char*);
            if (text == nullptr) {
                text = "(null)";
            }
            // With a precision, no further than that many characters are read.
            size_t length = 0;
            while ((field.precision < 0 || length < static_cast<size_t>(field.precision)) &&
                   text[length] != '\0') {
                ++length;
            }
            field.zero = false;
            PutField(out, field, {}, 0, std::string_view(text, length));
        } else if (conversion == '%' && p == start + 1) {
            out += '%';
        } else {
            // Not a conversion of the ones above: the text stands as written, up to where it ends.
            out.append(start, conversion == '\0' ? p : p + 1);
            if (conversion == '\0') {
                break;
            }
        }
    }
    return out;
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string result = FormatList(format, args);
    va_end(args);
    return result;
}

std::string IntToStr(int64_t value) {
    return std::to_string(value);
}

int32_t StrToInt(std::string_view text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const auto fail = [&] { return EConvertError(Format(msg::kInvalidInteger, std::string(text).c_str())); };
    if (i == text.size()) {
        throw fail();
    }
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') {
            throw fail();
        }
        value = value * 10 + (c - '0');
        if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) {
            throw fail();
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > std::numeric_limits<int32_t>::max()) {
        throw fail();
    }
    return static_cast<int32_t>(value);
}

std::string UpperCaseAscii(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), [](char c) { return UpperCaseAscii(c); });
    return result;
}

std::string LowerCaseAscii(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), [](char c) { return LowerCaseAscii(c); });
    return result;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
    return a.size() == b.size() && UpperCaseAscii(a) == UpperCaseAscii(b);
}

std::string ExtractFilePath(std::string_view path) {
    const size_t cut = path.find_last_of("\\:");
    return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut + 1));
}

std::string ExtractFileName(std::string_view path) {
    const size_t cut = path.find_last_of("\\:");
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string AddTrailingBackslash(std::string_view path) {
    std::string result(path);
    if (!result.empty() && result.back() != '\\') {
        result += '\\';
    }
    return result;
}

std::vector<std::string> FolderPartsOf(std::string_view name) {
    std::vector<std::string> parts;
    for (size_t cut = name.find('\\'); cut != std::string_view::npos; cut = name.find('\\', cut + 1)) {
        parts.emplace_back(name.substr(0, cut));
    }
    return parts;
}

std::string BreakLongRuns(std::string_view text, size_t longest) {
    if (longest == 0) {
        return std::string(text);
    }
    std::string result;
    size_t run = 0;                            // characters since the last blank or line break
    size_t lastBackslash = std::string::npos;  // in result, within the current run
    size_t afterBackslash = 0;                 // characters of the run after it
    for (const char c : text) {
        const bool continuation = (static_cast<unsigned char>(c) & 0xC0) == 0x80;
        if (!continuation && run >= longest) {
            // After the run's last backslash when what follows it leaves room on the new line.
            if (lastBackslash != std::string::npos && afterBackslash < longest) {
                result.insert(lastBackslash + 1, 1, '\n');
                run = afterBackslash;
            } else {
                result += '\n';
                run = 0;
            }
            lastBackslash = std::string::npos;
            afterBackslash = 0;
        }
        result += c;
        if (c == ' ' || c == '\n') {
            run = 0;
            lastBackslash = std::string::npos;
            afterBackslash = 0;
        } else if (!continuation) {
            ++run;
            ++afterBackslash;
            if (c == '\\') {
                lastBackslash = result.size() - 1;
                afterBackslash = 0;
            }
        }
    }
    return result;
}
