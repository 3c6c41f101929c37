// Who may change a folder: the test of an existing folder's permissions, and the permissions that
// an elevated setup gives the folders it creates.
//
// An installation made with administrator rights is removed later by a program that runs with
// administrator rights. Its folder must therefore be changeable by the administrators only:
// whoever else can write into it, rename it, delete it or change its permissions can replace the
// uninstaller and have it run as an administrator. The administrators are the accounts in
// DefaultTrustedAccounts(); every other account counts as another account (Everyone,
// Authenticated Users, Users, INTERACTIVE, a service, any single user, the owner).
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "framework/unique_handle.h"

// Whether the process runs with administrator rights: its token holds the Administrators group
// enabled (an elevated token; an administrator's filtered token holds it for denying only).
bool IsRunningAsAdministrator();

// A security descriptor that the system allocated (GetSecurityInfo, the conversion of SDDL text),
// freed with LocalFree.
using UniqueSecurityDescriptor = Unique<HandleTraits<PSECURITY_DESCRIPTOR, &::LocalFree>>;

// A SID as text ("S-1-5-32-544"), empty when it cannot be converted.
std::string SidText(PSID sid);

// SYSTEM, Administrators and TrustedInstaller, as SID text. The account that runs the setup is
// not among them, even when it runs elevated: that account also runs every unelevated program of
// its user, which would then be able to change what a later removal runs with full rights.
std::vector<std::string> DefaultTrustedAccounts();

// Where another account can act.
enum class TFolderPlace {
    Itself,       // on the folder itself
    NewContents,  // on what is created inside it (its inheritable entries)
    Above,        // on a folder above it (level 1 is its parent)
};

// What another account can do there.
enum class TFolderRight {
    None,
    Write,              // add files or folders, write data, attributes or extended attributes
    DeleteChild,        // delete or rename what is inside
    Delete,             // delete or rename it
    ChangePermissions,  // WRITE_DAC
    TakeOwnership,      // WRITE_OWNER
    Owner,              // it is the owner, who may always change the permissions
    Unknown,            // the permissions cannot be read, or hold an entry of an unknown kind
};

// The outcome of EvaluateFolderSecurity: nothing (right None), or the first way found in which
// another account can change the folder.
struct TFolderExposure {
    TFolderRight right = TFolderRight::None;
    TFolderPlace place = TFolderPlace::Itself;
    size_t level = 0;           // 0 for the folder and its new contents, 1 for its parent, and so on
    std::string account;        // the account as SID text ("S-1-1-0"); empty for Unknown
    bool noAccessList = false;  // the folder (or the one above) has no access list at all

    explicit operator bool() const { return right != TFolderRight::None; }
    // What is wrong, for a message that starts with the folder's name ("... can be changed by
    // accounts other than the administrators (Everyone may write into it)"): the account by its
    // name, then what it may do, e.g. "Users may delete or rename it through its parent folder".
    std::string Reason() const;
};

// Whether accounts other than the trusted ones can change a folder. chain[0] is the folder's
// descriptor (owner and access list), chain[1] its parent's, and so on upwards; the caller gives
// as many as it read, the parent at least when it has one. endsAtRoot says that the last one is
// the root of its volume, which cannot be renamed (its own DELETE right harms nobody).
//   - On the folder: every right of Write, DeleteChild, Delete, ChangePermissions, TakeOwnership,
//     and an owner that is not trusted. Entries marked inherit-only do not apply to it.
//   - On what will be created inside it: the same rights in its inheritable entries. Entries for
//     CREATOR OWNER and CREATOR GROUP give rights to whoever creates the item, and nobody but the
//     trusted accounts can create anything in a folder that passes the first test.
//   - On each folder above: DeleteChild (renaming the folder below), Delete (renaming itself,
//     except for a volume's root), ChangePermissions, TakeOwnership and an untrusted owner (each
//     of which can give the rest). Writing into a folder above cannot replace the folder.
// An access list that is absent (a NULL DACL) lets Everyone do everything. A deny entry takes
// rights away only from the very account it names, and only from allow entries after it (the
// order in which the system reads them): Everyone's rights stay for every other account. Allow
// entries with a condition count as allowing, deny entries with a condition as denying nothing.
// A descriptor without an owner, an unreadable one, or an entry of another kind is Unknown.
// trusted: SID text as ConvertSidToStringSid writes it (upper case "S-1-...").
TFolderExposure EvaluateFolderSecurity(std::span<const PSECURITY_DESCRIPTOR> chain,
                                       bool endsAtRoot,
                                       const std::vector<std::string>& trusted = DefaultTrustedAccounts());

// The folders above a folder, judged as EvaluateFolderSecurity judges chain[1] and upwards: above[0]
// is at level firstLevel (1: the folder's parent), the next one level higher, and so on.
TFolderExposure EvaluateFoldersAbove(std::span<const PSECURITY_DESCRIPTOR> above,
                                     size_t firstLevel,
                                     bool endsAtRoot,
                                     const std::vector<std::string>& trusted = DefaultTrustedAccounts());

// The permissions the setup gives a folder that it creates when it runs with administrator
// rights, as Program Files has them: nothing inherited from above, full control for SYSTEM and
// Administrators, read and run for Users, all of it inherited by what is inside, owner
// Administrators (an elevated token may always name that group as owner).
class ProtectedFolderSecurity {
  public:
    // Raises EInOutError when the system cannot make the descriptor (out of memory).
    ProtectedFolderSecurity();
    ProtectedFolderSecurity(const ProtectedFolderSecurity&) = delete;
    ProtectedFolderSecurity& operator=(const ProtectedFolderSecurity&) = delete;

    PSECURITY_DESCRIPTOR Descriptor() const { return descriptor_.get(); }
    // For CreateDirectory; valid while this object lives.
    SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

    // Gives an existing folder these permissions, replacing its owner and access list and cutting
    // the inheritance from above. For an EMPTY folder that is taken as the destination; what is
    // inside a folder keeps its own owner and entries. folder: opened with WRITE_DAC and
    // WRITE_OWNER. Until this returns, other accounts may still add to it: check that it is empty
    // again afterwards. Returns the system error code, ERROR_SUCCESS when done.
    uint32_t ApplyTo(HANDLE folder) const;

  private:
    UniqueSecurityDescriptor descriptor_;
    SECURITY_ATTRIBUTES attributes_{};
};

// The owner and the access list of an open file or folder (opened with READ_CONTROL), or nothing
// (the system error code in error) when they cannot be read.
UniqueSecurityDescriptor ReadFolderSecurity(HANDLE folder, uint32_t& error);

// A descriptor from SDDL text ("O:BAD:P(A;OICI;FA;;;SY)"), or nothing when the text is not valid.
UniqueSecurityDescriptor SecurityDescriptorFromText(const std::string& sddl);
// The owner and the access list of a descriptor as SDDL text, for messages, logs and tests.
std::string SecurityDescriptorText(PSECURITY_DESCRIPTOR descriptor);

// The accounts whose rights an installation's folder may hold: DefaultTrustedAccounts(), and under
// Wine the account the programs run as too. Wine keeps no access lists on files; it makes them up
// from the Unix permissions, with that account as the owner of everything it made, so only the
// rights of the other accounts tell anything there.
std::vector<std::string> InstallationTrustedAccounts();

class TSafeFolder;
// Whether accounts other than the administrators can change the installation in folder: the folder
// itself with every folder above it up to its volume's root and, each read with the folder and
// those above it, the files named (relative names; a missing one counts for nothing). Returns the
// first exposure found, with what it concerns in where ("" for the folder itself). The folders
// above are those the path names (a link on the way by its own permissions) and, when the path
// passes a link, those the system really passes to reach the folder.
TFolderExposure InstallationExposure(TSafeFolder& folder,
                                     const std::vector<std::string>& files,
                                     std::string& where);

// Whether accounts other than the administrators can change a destination that does not exist yet
// once it is made: existing is the nearest folder above it that exists, missing the number of
// folders to make below it (1: the destination alone). existing and every folder above it up to the
// root are judged as the folders above an existing destination are (existing at level missing).
// where: the folder found exposed.
TFolderExposure NewDestinationExposure(const std::string& existing, size_t missing, std::string& where);

// The first thing a run of the setup or the uninstaller does with an installation's folder, once it
// holds it and before it reads anything from it (its journal, its record): with administrator
// rights, the folder, those above it and the files named must be changeable by the administrators
// only. Returns why they are not, naming the folder or file ("" when they are, or when the process
// runs without those rights and so can harm nobody else).
std::string UntrustedInstallation(TSafeFolder& folder, const std::vector<std::string>& files);
