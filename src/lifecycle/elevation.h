// When the setup or the uninstaller restarts itself with administrator rights. Both programs run
// as their caller (the manifest's asInvoker), so that a run for the current user alone asks nothing.
// A run that needs the machine (the Program Files folder, the entry under HKEY_LOCAL_MACHINE),
// started by an administrator whose token is the limited one of a split pair, starts itself again
// through the elevation prompt with the same command line and the restart switch, waits, and ends
// with the elevated run's exit code. Anybody else runs as today: a standard user has no rights to
// ask for, a full token has them already. Portable: the decisions and the command line are tested
// everywhere; asking Windows is in elevation_win32.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The token a process runs with, as Windows tells it (TokenElevationType).
enum class TTokenElevation : uint8_t {
    Default,  // no split token: a standard user, or an administrator without the prompt
    Full,     // the elevated half of an administrator's pair
    Limited,  // the limited half: the rights are there for the asking
};

// The switch that the elevated run is started with, added to the command line it was given: that
// run never restarts itself again, whatever its token. Given by anybody, it only keeps the run as
// it was started.
inline constexpr char kRestartedSwitch[] = "/ELEVATED";

// Whether a run restarts itself elevated: only with a limited token, only when it needs the
// machine, and never when it is itself the restarted run.
bool RestartsElevated(TTokenElevation token, bool needsMachine, bool restarted);

// The parameters of the restarted run: each argument of commandLine after the program's name,
// quoted so that the restarted run reads it back as it is (an argument left open in quotation
// marks is closed), and the restart switch.
std::u16string RestartArguments(std::u16string_view commandLine);
