#include "framework/sysutils.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <limits>

#include "framework/exceptions.h"

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string result;
    if (length > 0) {
        result.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(result.data(), result.size(), format, args);
        result.resize(static_cast<size_t>(length));
    }
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
