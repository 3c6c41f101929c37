// The record file of an installation, read as the setup and the uninstaller both read it.
#pragma once

#include <string>

#include "lifecycle/install_record.h"

// Reads and parses the record at path (the item at that name itself: a link there is not followed).
// Raises EBadRecord "The record <path> is missing", "... cannot be read (<reason>)", "... is too
// large" or "... is damaged: <why>".
TInstallRecord ReadRecordFile(const std::string& path);
