// The subcommands of tcompress. Each takes the arguments after its name and returns the process's
// exit status: 0 success, 1 failure, 2 wrong usage. Output goes to out, messages to err.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

using Arguments = std::vector<std::string>;

int PackCommand(const Arguments& args, std::ostream& out, std::ostream& err);
int ListCommand(const Arguments& args, std::ostream& out, std::ostream& err);
int TestCommand(const Arguments& args, std::ostream& out, std::ostream& err);
