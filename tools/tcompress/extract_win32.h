// tcompress extract (Windows only): expands an archive's entries into a folder with the archive
// component itself.
#pragma once

#include "commands.h"

int ExtractCommand(const Arguments& args, std::ostream& out, std::ostream& err);
