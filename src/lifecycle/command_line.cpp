#include "lifecycle/command_line.h"

#include "framework/sysutils.h"

namespace {

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

}  // namespace

std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
    std::vector<std::u16string> arguments;
    size_t i = 0;
    // The program: up to the first blank outside quotation marks, backslashes as they stand.
    {
        std::u16string program;
        bool quoted = false;
        while (i < line.size() && (quoted || !IsBlank(line[i]))) {
            if (line[i] == u'"') {
                quoted = !quoted;
            } else {
                program += line[i];
            }
            ++i;
        }
        if (!line.empty()) {
            arguments.push_back(std::move(program));
        }
    }
    std::u16string current;
    bool inArgument = false;
    bool quoted = false;
    while (i < line.size()) {
        const char16_t c = line[i];
        if (IsBlank(c) && !quoted) {
            if (inArgument) {
                arguments.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
            ++i;
            continue;
        }
        inArgument = true;
        if (c == u'\\') {
            size_t backslashes = 0;
            while (i < line.size() && line[i] == u'\\') {
                ++backslashes;
                ++i;
            }
            if (i < line.size() && line[i] == u'"') {
                current.append(backslashes / 2, u'\\');
                if (backslashes % 2 == 1) {
                    current += u'"';
                    ++i;
                }
            } else {
                current.append(backslashes, u'\\');
            }
            continue;
        }
        if (c == u'"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
                current += u'"';
                ++i;
            } else {
                quoted = !quoted;
            }
        } else {
            current += c;
        }
        ++i;
    }
    if (inArgument) {
        arguments.push_back(std::move(current));
    }
    return arguments;
}

TSwitchList ReadSwitches(std::u16string_view commandLine, const TAnsiConversion& toAnsi) {
    TSwitchList list;
    const std::vector<std::u16string> arguments = SplitCommandLine(commandLine);
    for (size_t index = 1; index < arguments.size(); ++index) {
        const std::u16string& argument = arguments[index];
        if (argument.empty() || argument.front() != u'/') {
            continue;
        }
        // A full-width quotation mark is a quotation mark to a conversion with look-alikes (and to
        // some launchers): a switch that holds one is refused whatever the code page, so that no
        // reading of the line splits it differently.
        if (argument.find(u'\uFF02') != std::u16string::npos) {
            if (list.Error.empty()) {
                list.Error = "Argument " + std::to_string(index) + " holds a full-width quotation mark";
            }
            continue;
        }
        std::optional<std::string> converted = toAnsi(argument);
        if (!converted) {
            if (list.Error.empty()) {
                list.Error = "Argument " + std::to_string(index) +
                             " has a character that the\ncode page cannot represent";
            }
            continue;
        }
        list.Switches.push_back(std::move(*converted));
    }
    return list;
}

bool IsSwitch(std::string_view argument, std::string_view name) {
    return SameTextAscii(argument, name);
}

std::optional<std::string> SwitchValue(std::string_view argument, std::string_view name) {
    if (argument.size() <= name.size() || argument[name.size()] != '=' ||
        !SameTextAscii(argument.substr(0, name.size()), name)) {
        return std::nullopt;
    }
    return std::string(argument.substr(name.size() + 1));
}

bool IsVerySilentSwitch(std::string_view argument) {
    return IsSwitch(argument, "/VERYSILENT") || IsSwitch(argument, "/S") || IsSwitch(argument, "/QUIET") ||
           IsSwitch(argument, "/QN");
}

bool ShowsRefusal(const std::vector<std::string>& switches) {
    for (const std::string& argument : switches) {
        if (IsVerySilentSwitch(argument) || IsSwitch(argument, "/SILENT") ||
            IsSwitch(argument, "/SUPPRESSMSGBOXES")) {
            return false;
        }
    }
    return true;
}

bool HasControlCharacters(std::string_view text) {
    for (const char c : text) {
        if (IsControl(static_cast<unsigned char>(c))) {
            return true;
        }
    }
    return false;
}

std::string EscapeControlCharacters(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsControl(byte)) {
            escaped += Format("\\x%02X", static_cast<unsigned>(byte));
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::optional<std::string> BadPathCharacters(std::string_view value) {
    if (HasControlCharacters(value)) {
        return "holds a control character";
    }
    if (value.find('"') != std::string_view::npos) {
        return "holds a quotation mark";
    }
    return std::nullopt;
}

std::optional<std::string> LogFileProblem(std::string_view value) {
    if (value.empty()) {
        return "/LOG needs a file name";
    }
    if (const std::optional<std::string> bad = BadPathCharacters(value)) {
        return "/LOG " + *bad;
    }
    return std::nullopt;
}

bool IsAbsolutePath(std::string_view path) {
    if (path.size() >= 3 && UpperCaseAscii(path[0]) >= 'A' && UpperCaseAscii(path[0]) <= 'Z' &&
        path[1] == ':' && path[2] == '\\') {
        return true;
    }
    // "\\server\share": a server name and a share name, neither empty. The device and long-path
    // forms ("\\.\", "\\?\") are not network paths.
    if (path.size() < 5 || path[0] != '\\' || path[1] != '\\') {
        return false;
    }
    const size_t shareStart = path.find('\\', 2);
    if (shareStart == std::string_view::npos || shareStart == 2 || shareStart + 1 >= path.size() ||
        path[shareStart + 1] == '\\') {
        return false;
    }
    const std::string_view server = path.substr(2, shareStart - 2);
    return server != "." && server != "?";
}

std::string CommandLineForLog(std::u16string_view commandLine, const TAnsiConversion& toAnsi) {
    std::string text;
    size_t i = 0;
    while (i < commandLine.size()) {
        // One code point: a surrogate pair stays together.
        size_t length = 1;
        const char16_t c = commandLine[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < commandLine.size() && commandLine[i + 1] >= 0xDC00 &&
            commandLine[i + 1] <= 0xDFFF) {
            length = 2;
        }
        const std::u16string_view character = commandLine.substr(i, length);
        const std::optional<std::string> converted =
            c < 0x80 ? std::string(1, static_cast<char>(c)) : toAnsi(character);
        if (converted) {
            text += *converted;
        } else {
            const unsigned codePoint =
                length == 2 ? 0x10000u + ((c - 0xD800u) << 10) + (commandLine[i + 1] - 0xDC00u) : c;
            text += Format("\\u{%04X}", codePoint);
        }
        i += length;
    }
    return EscapeControlCharacters(text);
}
