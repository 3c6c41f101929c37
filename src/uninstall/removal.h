// The removal of an installation: the record read and checked, the question, a pass that opens
// and checks every item to remove before the first one goes, then the removal itself with its
// progress, the created folders and, last, the registration. The interactive and the unattended
// front ends answer and report through TRemovalFrontEnd; the sequence is the same.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lifecycle/install_record.h"
#include "lifecycle/removal_plan.h"

// The product as the question and the closing message name it.
inline constexpr const char kProductName[] = "Tandrel " TANDREL_VERSION;

class TRemovalFrontEnd {
  public:
    virtual ~TRemovalFrontEnd() = default;
    // Whether to remove the installation in destination (No: nothing changes).
    virtual bool Confirm(const std::string& destination) = 0;
    // path cannot be removed (reason: "it is in use", ...); nothing has been removed. True: check
    // everything again.
    virtual bool RetryBlocked(const std::string& path, const std::string& reason) = 0;
    // The removal starts (the window shows), then each step names its item and the percentage.
    virtual void StartProgress() = 0;
    virtual void Progress(const std::string& name, int percent) = 0;
    // An item went: a file or folder relative to the destination, a shortcut's path, the entry.
    virtual void Removed(const std::string& what) = 0;
    // The end of a removal that ran (failed tells whether an item could not be removed).
    virtual void Finished(const std::string& destination,
                          const std::vector<TKeptItem>& kept,
                          bool failed) = 0;
    // The removal did not start or stopped: message says why.
    virtual void Failed(const std::string& message) = 0;
    // A run of the setup that did not end had left its journal: what was done about it.
    virtual void Recovered(const std::vector<std::string>& /*lines*/) {}
};

// The record of the installation in folder, checked: it must be there, read back whole and name
// folder as its destination. Raises EBadRecord (or EInOutError when it cannot be read).
TInstallRecord ReadInstallationRecord(const std::string& folder);
// The same, of the folder that folder holds.
class TSafeFolder;
TInstallRecord ReadInstallationRecord(TSafeFolder& folder);

// Removes the installation in folder and returns the exit code (see uninstall_options.h).
// runningUninstaller is the uninstaller program in folder that waits for this one (it cannot be
// deleted while it runs): it is moved into parkingFolder, the temporary folder of this program, on
// the same drive, or else deleted at the next restart. handedOverLock: the installation's lock as
// the waiting uninstaller handed it over (see TInstallationLock), 0 for none.
int RunRemoval(const std::string& folder,
               const std::string& parkingFolder,
               TRemovalFrontEnd& frontEnd,
               uint64_t handedOverLock = 0);

// The name under which the waiting uninstaller is moved into the parking folder.
inline constexpr const char kParkedUninstallerName[] = "Uninstall-original.exe";
