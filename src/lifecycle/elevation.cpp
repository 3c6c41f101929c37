#include "lifecycle/elevation.h"

#include <vector>

#include "lifecycle/command_line.h"

bool RestartsElevated(TTokenElevation token, bool needsMachine, bool restarted) {
    return token == TTokenElevation::Limited && needsMachine && !restarted;
}

std::u16string RestartArguments(std::u16string_view commandLine) {
    const std::vector<std::u16string> arguments = SplitCommandLine(commandLine);
    std::u16string line;
    for (size_t i = 1; i < arguments.size(); ++i) {
        line += QuotedArgument(std::u16string_view(arguments[i]));
        line += u' ';
    }
    for (const char c : std::string_view(kRestartedSwitch)) {
        line += static_cast<char16_t>(c);
    }
    return line;
}
