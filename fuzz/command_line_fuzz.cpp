// Any bytes as a wide command line (two bytes a character, little-endian; the first byte sets the
// longest entry name): splitting never reads outside the text, only words starting with "/" come
// back as switches, the setup's options accepted from them are sound (a full destination free of
// control characters and quotation marks that leaves room for every file and its backup), so are the
// uninstaller's (a full path for the copy's original folder, a log name that can name a file, and
// the copy's command line gives the same options back), and the log's form of the line holds no
// control character.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_util.h"
#include "lifecycle/command_line.h"
#include "lifecycle/setup_command_line.h"
#include "lifecycle/uninstall_options.h"

namespace {

// A single-byte code page: characters below U+0100 are their byte, others have no exact form.
std::optional<std::string> Latin1(std::u16string_view text) {
    std::string bytes;
    for (const char16_t c : text) {
        if (c > 0xFF) {
            return std::nullopt;
        }
        bytes += static_cast<char>(c);
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const size_t longestName = data[0];
    std::u16string line;
    for (size_t i = 1; i + 1 < size; i += 2) {
        line += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }

    const std::vector<std::u16string> arguments = SplitCommandLine(line);
    size_t characters = 0;
    for (const std::u16string& argument : arguments) {
        characters += argument.size();
    }
    FUZZ_CHECK(characters <= line.size());
    FUZZ_CHECK(line.empty() == arguments.empty());

    const TSwitchList list = ReadSwitches(line, Latin1);
    for (const std::string& argument : list.Switches) {
        FUZZ_CHECK(!argument.empty() && argument.front() == '/');
    }
    const TSetupOptions options = ParseSetupArguments(list.Switches, longestName);
    if (options.Error.empty() && options.Destination != kDefaultDestination) {
        FUZZ_CHECK(IsAbsolutePath(options.Destination));
        FUZZ_CHECK(!HasControlCharacters(options.Destination));
        FUZZ_CHECK(options.Destination.find('"') == std::string::npos);
        std::string withBackslash = options.Destination;
        if (withBackslash.back() != '\\') {
            withBackslash += '\\';
        }
        FUZZ_CHECK(withBackslash.size() + 7 + longestName + 1 <= kPathLimit);
    }
    if (options.Error.empty()) {
        FUZZ_CHECK(!HasControlCharacters(options.LogFile));
    }
    const TUninstallOptions removal = ParseUninstallArguments(list.Switches);
    if (removal.Error.empty()) {
        FUZZ_CHECK(removal.LogFile.empty() || !LogFileProblem(removal.LogFile));
        FUZZ_CHECK(removal.Original.empty() || IsAbsolutePath(removal.Original));
        if (!removal.Original.empty() && !HasControlCharacters(removal.Original)) {
            // The copy started with these options reads them back as they are.
            std::u16string copyLine = u"copy.exe ";
            for (const char c : CopyArguments(removal, removal.Original)) {
                copyLine += static_cast<char16_t>(static_cast<unsigned char>(c));
            }
            const TUninstallOptions copy = ParseUninstallArguments(ReadSwitches(copyLine, Latin1).Switches);
            FUZZ_CHECK(copy.Error.empty());
            FUZZ_CHECK(copy.Mode == removal.Mode && copy.LogFile == removal.LogFile &&
                       copy.Original == removal.Original);
        }
    }
    FUZZ_CHECK(!HasControlCharacters(CommandLineForLog(line, Latin1)));
    return 0;
}
