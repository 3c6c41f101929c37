// One setup or removal of an installation at a time. The lock is the installation's folder itself,
// opened to add files to it and shared with nobody else who wants to: a second opening of that kind
// fails while the first is held, whatever path spells the folder (a short name, another letter case,
// a link on the way), since the file system keeps the sharing with the folder, not with a name.
// Only an account that may write into the folder can take it, which in a protected installation is
// an administrator. No named object is involved that another account could create first.
// A process that only lists or reads the folder (a shell whose current folder it is) is no
// obstacle: it does not ask to write.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "framework/exceptions.h"
#include "framework/unique_handle.h"

class TInstallationLock {
  public:
    // Takes the lock of the folder destination, which must exist (a missing one cannot be locked).
    explicit TInstallationLock(const std::string& destination);
    // Takes over the lock that the program which started this one handed over: handedOver is the
    // value of a handle this process inherited (see Inheritable). It is taken when it is a handle
    // of destination's folder opened as the lock opens it; otherwise the lock is taken as above.
    TInstallationLock(const std::string& destination, uint64_t handedOver);
    TInstallationLock(const TInstallationLock&) = delete;
    TInstallationLock& operator=(const TInstallationLock&) = delete;
    TInstallationLock(TInstallationLock&&) = default;
    TInstallationLock& operator=(TInstallationLock&&) = default;
    ~TInstallationLock() = default;

    bool Held() const { return static_cast<bool>(folder_); }
    // The folder's handle as the lock holds it (invalid when not held).
    HANDLE Handle() const { return folder_.get(); }
    // Not held because another setup or removal holds it.
    bool Busy() const { return !Held() && error_ == ERROR_SHARING_VIOLATION && !squatted_; }
    // Why it is not held, for a message: another run, or what kept the folder from being opened.
    std::string Failure() const;

    // An inheritable second handle of the lock, for a program that this one starts and that takes
    // it over; its value goes to that program (nullptr when not held or not made). It lives as long
    // as this object.
    HANDLE Inheritable();
    // Lets go of it.
    void Release() noexcept;

  private:
    void Take();

    std::string destination_;
    UniqueFileHandle folder_;
    UniqueFileHandle inheritable_;
    uint32_t error_ = 0;
    bool squatted_ = false;  // the folder is held open by a program that lets no one write
};

// Another setup or removal holds the installation's lock: nothing was changed.
TANDREL_DECLARE_EXCEPTION(EAnotherRun, Exception);
inline constexpr const char kAnotherRunMessage[] =
    "Another Tandrel setup or removal is running. Please wait until it has finished, then try again";
