// The process's command line as the system holds it (wide), converted exactly to the ANSI code
// page, and the refusal of a bad one. Shared by every program we ship that reads switches.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "lifecycle/command_line.h"

// text in the ANSI code page, or nothing when a character has no exact form there: no best-fit
// look-alike, no default character, and the result must convert back to text unchanged.
std::optional<std::string> ToAnsiExact(std::u16string_view text);

// The process's command line, wide, as the system holds it.
std::u16string ProcessCommandLine();

// The switches of the process's command line (see ReadSwitches).
TSwitchList ReadProcessSwitches();

// Refuses a bad command line: "<program>: <reason>" on the standard error when the process has
// one, and, when showBox, a message box captioned caption with the reason and the usage.
void RefuseCommandLine(const std::string& program,
                       const std::string& caption,
                       const std::string& reason,
                       const std::string& usage,
                       bool showBox);
