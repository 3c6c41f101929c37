#include "lifecycle/uninstall_options.h"

#include <optional>

#include "framework/sysutils.h"
#include "lifecycle/command_line.h"
#include "lifecycle/elevation.h"

namespace {

// A handle's value written in decimal: 1 to 10 digits, not 0; 0 for anything else.
uint64_t HandleNumber(const std::string& text) {
    if (text.empty() || text.size() > 10) {
        return 0;
    }
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return 0;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value <= 0xffffffffu ? value : 0;
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
        if (IsSwitch(argument, "/SILENT")) {
            if (options.Mode != TUninstallMode::VerySilent) {
                options.Mode = TUninstallMode::Silent;
            }
        } else if (IsSwitch(argument, "/VERYSILENT")) {
            options.Mode = TUninstallMode::VerySilent;
        } else if (IsSwitch(argument, kRestartedSwitch)) {
            options.Restarted = true;  // added by the run that restarted itself elevated
        } else if (const std::optional<std::string> log = SwitchValue(argument, "/LOG")) {
            if (const std::optional<std::string> problem = LogFileProblem(*log)) {
                fail(*problem);
            }
            options.LogFile = *log;
            logGiven = true;
        } else if (const std::optional<std::string> original = SwitchValue(argument, "/ORIGINAL")) {
            if (original->empty()) {
                fail("/ORIGINAL needs a folder");
            } else if (!IsAbsolutePath(*original)) {
                fail("/ORIGINAL needs a full path");
            }
            options.Original = *original;
        } else if (const std::optional<std::string> lock = SwitchValue(argument, "/LOCK")) {
            options.Lock = HandleNumber(*lock);
            if (options.Lock == 0) {
                fail("/LOCK needs a number");
            }
        } else if (IsSwitch(argument, "/LOG") || IsSwitch(argument, "/ORIGINAL") ||
                   IsSwitch(argument, "/LOCK")) {
            fail(argument + " needs a value: " + argument + "=\"...\"");
        } else {
            fail("Unknown switch " + EscapeControlCharacters(argument));
        }
    }
    if (logGiven && !options.Unattended()) {
        fail("/LOG needs /SILENT or /VERYSILENT");
    }
    if (options.Lock != 0 && options.Original.empty()) {
        fail("/LOCK needs /ORIGINAL");
    }
    return options;
}

std::string UninstallUsage() {
    // Short lines: the message box wraps long ones wherever it likes.
    return "Uninstall removes Tandrel " TANDREL_VERSION
           " from the folder it is in.\n"
           "These switches remove it unattended:\n"
           "\n"
           "/SILENT: only the progress window shows\n"
           "/VERYSILENT: no window at all\n"
           "/LOG=\"file\": a log of the removal\n"
           "\n"
           "Exit codes: 0 removed, 1 bad command line\n"
           "or record, 2 declined, 4 removal failed.";
}

std::string QuoteArgument(std::string_view argument) {
    return QuotedArgument(argument);
}

std::string CopyArguments(const TUninstallOptions& options,
                          const std::string& originalFolder,
                          uint64_t lock) {
    std::string arguments;
    if (options.Mode == TUninstallMode::Silent) {
        arguments += "/SILENT ";
    } else if (options.Mode == TUninstallMode::VerySilent) {
        arguments += "/VERYSILENT ";
    }
    if (!options.LogFile.empty()) {
        arguments += QuoteArgument("/LOG=" + options.LogFile) + " ";
    }
    arguments += QuoteArgument("/ORIGINAL=" + originalFolder);
    if (lock != 0) {
        arguments += ' ';
        arguments += QuoteArgument("/LOCK=" + std::to_string(lock));
    }
    return arguments;
}
