#include "app/command_line.h"

#include <optional>

#include "framework/sysutils.h"

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    size_t i = 0;
    while (i < commandLine.size()) {
        const char c = commandLine[i];
        if ((c == ' ' || c == '\t') && !quoted) {
            if (inArgument) {
                arguments.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
            ++i;
            continue;
        }
        inArgument = true;
        if (c == '\\') {
            size_t backslashes = 0;
            while (i < commandLine.size() && commandLine[i] == '\\') {
                ++backslashes;
                ++i;
            }
            if (i < commandLine.size() && commandLine[i] == '"') {
                current.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    current += '"';
                    ++i;
                }
            } else {
                current.append(backslashes, '\\');
            }
            continue;
        }
        if (c == '"') {
            quoted = !quoted;
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

TSetupOptions ParseSetupArguments(const std::vector<std::string>& arguments) {
    TSetupOptions options;
    bool unattendedOnly = false;  // a switch that needs /SILENT or /VERYSILENT was given
    auto fail = [&options](const std::string& message) {
        if (options.Error.empty()) {
            options.Error = message;
        }
    };
    for (const std::string& argument : arguments) {
        const std::string upper = UpperCaseAscii(argument);
        if (upper == "/SILENT") {
            if (options.Mode != TSetupMode::VerySilent) {
                options.Mode = TSetupMode::Silent;
            }
        } else if (upper == "/VERYSILENT") {
            options.Mode = TSetupMode::VerySilent;
        } else if (upper == "/NOBACKUP") {
            options.Backup = false;
            unattendedOnly = true;
        } else if (upper == "/NOICONS") {
            options.Shortcuts = false;
            unattendedOnly = true;
        } else if (upper == "/?" || upper == "/HELP") {
            options.Help = true;
        } else if (const std::optional<std::string> dir = SwitchValue(argument, "/DIR=")) {
            if (dir->empty()) {
                fail("/DIR needs a folder");
            }
            options.Destination = *dir;
            unattendedOnly = true;
        } else if (const std::optional<std::string> log = SwitchValue(argument, "/LOG=")) {
            if (log->empty()) {
                fail("/LOG needs a file name");
            }
            options.LogFile = *log;
            unattendedOnly = true;
        } else if (upper == "/DIR" || upper == "/LOG") {
            fail(argument + " needs a value: " + argument + "=\"...\"");
        } else {
            fail("Unknown switch " + argument);
        }
    }
    if (unattendedOnly && !options.Unattended() && !options.Help) {
        fail("/DIR, /NOBACKUP, /NOICONS and /LOG need /SILENT or /VERYSILENT");
    }
    return options;
}

std::string SetupUsage() {
    // Short lines: the message box wraps long ones wherever it likes.
    return std::string("Tandrel Setup installs Tandrel " TANDREL_VERSION ".\n") +
           "These switches install it unattended:\n"
           "\n"
           "/SILENT: only the progress window shows\n"
           "/VERYSILENT: no window at all\n"
           "/DIR=\"folder\": the destination\n"
           "/NOBACKUP: replaced files are deleted\n"
           "/NOICONS: no shortcuts\n"
           "/LOG=\"file\": a log of the installation\n"
           "/? or /HELP: this text\n"
           "\n"
           "Default folder: " +
           kDefaultDestination +
           "\n"
           "Exit codes: 0 installed,\n"
           "1 bad command line, 4 installation failed.";
}
