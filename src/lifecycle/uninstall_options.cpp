#include "lifecycle/uninstall_options.h"

#include <optional>

#include "framework/sysutils.h"

namespace {

// The value of "/NAME=value" when argument is that switch (prefix "/NAME=", any letter case), else
// nothing.
std::optional<std::string> SwitchValue(const std::string& argument, std::string_view prefix) {
    if (argument.size() < prefix.size() ||
        !SameTextAscii(std::string_view(argument).substr(0, prefix.size()), prefix)) {
        return std::nullopt;
    }
    return argument.substr(prefix.size());
}

}  // namespace

TUninstallOptions ParseUninstallArguments(const std::vector<std::string>& arguments) {
    TUninstallOptions options;
    auto fail = [&options](const std::string& message) {
        if (options.Error.empty()) {
            options.Error = message;
        }
    };
    bool logGiven = false;
    for (const std::string& argument : arguments) {
        if (argument.empty() || argument[0] != '/') {
            continue;
        }
        const std::string upper = UpperCaseAscii(argument);
        if (upper == "/SILENT") {
            if (options.Mode != TUninstallMode::VerySilent) {
                options.Mode = TUninstallMode::Silent;
            }
        } else if (upper == "/VERYSILENT") {
            options.Mode = TUninstallMode::VerySilent;
        } else if (const std::optional<std::string> log = SwitchValue(argument, "/LOG=")) {
            if (log->empty()) {
                fail("/LOG needs a file name");
            }
            options.LogFile = *log;
            logGiven = true;
        } else if (const std::optional<std::string> original = SwitchValue(argument, "/ORIGINAL=")) {
            if (original->empty()) {
                fail("/ORIGINAL needs a folder");
            }
            options.Original = *original;
        } else if (upper == "/LOG" || upper == "/ORIGINAL") {
            fail(argument + " needs a value: " + argument + "=\"...\"");
        } else {
            fail("Unknown switch " + argument);
        }
    }
    if (logGiven && !options.Unattended()) {
        fail("/LOG needs /SILENT or /VERYSILENT");
    }
    return options;
}

std::string QuoteArgument(std::string_view argument) {
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

std::string CopyArguments(const TUninstallOptions& options, const std::string& originalFolder) {
    std::string arguments;
    if (options.Mode == TUninstallMode::Silent) {
        arguments += "/SILENT ";
    } else if (options.Mode == TUninstallMode::VerySilent) {
        arguments += "/VERYSILENT ";
    }
    if (!options.LogFile.empty()) {
        arguments += QuoteArgument("/LOG=" + options.LogFile) + " ";
    }
    return arguments + QuoteArgument("/ORIGINAL=" + originalFolder);
}
