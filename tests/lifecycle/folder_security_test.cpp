// Who may change a folder: access lists as Windows has them on a drive's root, in Program Files, in
// a user's profile and in stranger places, written as SDDL text; then folders made here.
#include "lifecycle/folder_security.h"

#include <windows.h>

#include <aclapi.h>

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

#include "../common/temporary_name.h"

namespace {

const std::string kUser = "S-1-5-21-1004336348-1177238915-682003330-1001";
const std::string kTrustedInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// SYSTEM and Administrators full control, Users read and run; nothing inherited.
const std::string kAdministratorsOnly = "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// The root of the system drive: Authenticated Users may add folders to the root itself and change
// what is created below it.
const std::string kDriveRoot =
    "O:SYG:SYD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)";
// An older form of the root, where Authenticated Users may change the root itself (DELETE included).
const std::string kDriveRootModify =
    "O:SYG:SYD:PAI(A;OICIIO;SDGXGWGR;;;AU)(A;;0x1301bf;;;AU)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;"
    ";;BU)"
    "(A;CIIO;LC;;;BU)";
// A folder made in the root with the default permissions, as C:\Tandrel was before.
const std::string kMadeInRoot =
    "O:BAD:AI(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)(A;ID;FA;;;SY)(A;OICIIOID;GA;;;SY)(A;ID;0x1200a9;;;BU)"
    "(A;OICIIOID;GXGR;;;BU)(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)";
// Program Files, owned by TrustedInstaller; CREATOR OWNER gets full control of what is created.
const std::string kProgramFiles =
    "O:" + kTrustedInstaller + "G:" + kTrustedInstaller + "D:PAI(A;;FA;;;" + kTrustedInstaller +
    ")(A;CIIO;GA;;;" + kTrustedInstaller +
    ")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
    "(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)"
    "(A;OICIIO;GXGR;;;AC)(A;;0x1200a9;;;S-1-15-2-2)(A;OICIIO;GXGR;;;S-1-15-2-2)";
// A folder made with the default permissions inside Program Files.
const std::string kMadeInProgramFiles = "O:BAD:AI(A;CIIOID;GA;;;" + kTrustedInstaller +
                                        ")(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)"
                                        "(A;OICIIOID;GA;;;CO)(A;OICIID;0x1200a9;;;AC)";
// A user's profile folder.
const std::string kUserProfile =
    "O:" + kUser + "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + kUser + ")";

// Parses the descriptors, evaluates them (the first is the folder, then upwards).
TFolderExposure Evaluate(const std::vector<std::string>& sddl,
                         bool endsAtRoot = false,
                         const std::vector<std::string>& trusted = DefaultTrustedAccounts()) {
    std::vector<UniqueSecurityDescriptor> owned;
    std::vector<PSECURITY_DESCRIPTOR> chain;
    for (const auto& text : sddl) {
        owned.push_back(SecurityDescriptorFromText(text));
        EXPECT_TRUE(owned.back()) << text;
        chain.push_back(owned.back().get());
    }
    return EvaluateFolderSecurity(chain, endsAtRoot, trusted);
}

void ExpectProtected(const TFolderExposure& exposure) {
    EXPECT_EQ(exposure.right, TFolderRight::None) << exposure.Reason();
}

void ExpectExposed(const TFolderExposure& exposure,
                   TFolderRight right,
                   TFolderPlace place,
                   size_t level,
                   const std::string& account) {
    EXPECT_EQ(exposure.right, right) << exposure.Reason();
    EXPECT_EQ(exposure.place, place) << exposure.Reason();
    EXPECT_EQ(exposure.level, level) << exposure.Reason();
    EXPECT_EQ(exposure.account, account) << exposure.Reason();
}

TEST(FolderSecurity, TheProtectedDescriptorIsProtectedWhereverItIs) {
    const ProtectedFolderSecurity security;
    const std::string text = SecurityDescriptorText(security.Descriptor());
    ExpectProtected(Evaluate({text}));
    ExpectProtected(Evaluate({text, kDriveRoot}, true));
    ExpectProtected(Evaluate({text, kDriveRootModify}, true));
    ExpectProtected(Evaluate({text, kProgramFiles, kDriveRoot}, true));
    ExpectProtected(Evaluate({text, kMadeInProgramFiles, kProgramFiles, kDriveRoot}, true));
    // It cuts the inheritance and names the owner.
    EXPECT_EQ(text.rfind("O:BAD:P", 0), 0u) << text;
}

TEST(FolderSecurity, DefaultFoldersOfWindows) {
    // The root itself: anyone signed in may create folders in it.
    const TFolderExposure root = Evaluate({kDriveRoot}, true);
    ExpectExposed(root, TFolderRight::Write, TFolderPlace::Itself, 0, "S-1-5-11");
    EXPECT_EQ(root.Reason(), "Authenticated Users may write into it");
    // A folder made there by default inherits "modify" for them.
    ExpectExposed(Evaluate({kMadeInRoot, kDriveRoot}, true), TFolderRight::Write, TFolderPlace::Itself, 0,
                  "S-1-5-11");
    // Program Files and what is made in it by default: the administrators' only; CREATOR OWNER
    // and the read rights of the application packages do not count.
    ExpectProtected(Evaluate({kProgramFiles, kDriveRoot}, true));
    ExpectProtected(Evaluate({kMadeInProgramFiles, kProgramFiles, kDriveRoot}, true));
    // A user's profile belongs to the user.
    ExpectExposed(Evaluate({kUserProfile}), TFolderRight::Write, TFolderPlace::Itself, 0, kUser);
}

TEST(FolderSecurity, EveryDangerousRightOnTheFolderCounts) {
    const std::string base = "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";
    struct Case {
        const char* entry;
        TFolderRight right;
        const char* account;
        const char* reason;
    };
    const Case cases[] = {
        {"(A;;GW;;;BU)", TFolderRight::Write, "S-1-5-32-545", "Users may write into it"},
        {"(A;;GA;;;WD)", TFolderRight::Write, "S-1-1-0", "Everyone may write into it"},
        {"(A;;0x100;;;IU)", TFolderRight::Write, "S-1-5-4", "INTERACTIVE may write into it"},
        {"(A;;0x1200e9;;;BU)", TFolderRight::DeleteChild, "S-1-5-32-545",
         "Users may delete what is inside it"},
        {"(A;;SD;;;AU)", TFolderRight::Delete, "S-1-5-11", "Authenticated Users may delete or rename it"},
        {"(A;;WD;;;BU)", TFolderRight::ChangePermissions, "S-1-5-32-545", "Users may change its permissions"},
        {"(A;;WO;;;AU)", TFolderRight::TakeOwnership, "S-1-5-11",
         "Authenticated Users may take ownership of it"},
    };
    for (const Case& c : cases) {
        const TFolderExposure exposure = Evaluate({base + c.entry});
        ExpectExposed(exposure, c.right, TFolderPlace::Itself, 0, c.account);
        EXPECT_EQ(exposure.Reason(), c.reason);
    }
    // Reading, running and listing change nothing; neither do entries for the trusted accounts.
    ExpectProtected(Evaluate({base + "(A;;0x1200a9;;;WD)(A;;FA;;;" + kTrustedInstaller + ")"}));
}

TEST(FolderSecurity, AnOwnerOtherThanTheAdministratorsMayChangeThePermissions) {
    const TFolderExposure exposure =
        Evaluate({"O:" + kUser + "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"});
    ExpectExposed(exposure, TFolderRight::Owner, TFolderPlace::Itself, 0, kUser);
    EXPECT_EQ(exposure.Reason(), kUser + " owns it and may change its permissions");
    // Owned by SYSTEM or TrustedInstaller is fine.
    ExpectProtected(Evaluate({"O:SYD:P(A;;FA;;;SY)"}));
    ExpectProtected(Evaluate({"O:" + kTrustedInstaller + "D:P(A;;FA;;;SY)"}));
    // An empty access list leaves the owner alone with its rights.
    ExpectProtected(Evaluate({"O:BAD:P"}));
    // OWNER RIGHTS stands for the owner: harmless when the owner is trusted.
    ExpectProtected(Evaluate({"O:BAD:P(A;;FA;;;OW)"}));
}

// A descriptor owned by Administrators with the access list given (nullptr: none at all). Wine's
// reading of SDDL text makes "D:NO_ACCESS_CONTROL" an empty list instead of none.
struct TBuiltDescriptor {
    explicit TBuiltDescriptor(PACL dacl) {
        DWORD size = sizeof(owner);
        EXPECT_TRUE(::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, owner, &size));
        EXPECT_TRUE(::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
        EXPECT_TRUE(::SetSecurityDescriptorOwner(&descriptor, owner, FALSE));
        EXPECT_TRUE(::SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE));
    }
    SECURITY_DESCRIPTOR descriptor{};
    BYTE owner[SECURITY_MAX_SID_SIZE]{};
};

TFolderExposure EvaluateBuilt(const TBuiltDescriptor& folder, const std::string& parent = {}) {
    const auto above = SecurityDescriptorFromText(parent);
    const PSECURITY_DESCRIPTOR chain[] = {const_cast<SECURITY_DESCRIPTOR*>(&folder.descriptor), above.get()};
    return EvaluateFolderSecurity({chain, parent.empty() ? 1u : 2u}, false);
}

TFolderExposure EvaluateBuiltAbove(const std::string& folder, const TBuiltDescriptor& parent) {
    const auto below = SecurityDescriptorFromText(folder);
    const PSECURITY_DESCRIPTOR chain[] = {below.get(), const_cast<SECURITY_DESCRIPTOR*>(&parent.descriptor)};
    return EvaluateFolderSecurity(chain, false);
}

TEST(FolderSecurity, NoAccessListLetsEveryoneDoAnything) {
    const TBuiltDescriptor none(nullptr);
    const TFolderExposure exposure = EvaluateBuilt(none);
    ExpectExposed(exposure, TFolderRight::Write, TFolderPlace::Itself, 0, "S-1-1-0");
    EXPECT_TRUE(exposure.noAccessList);
    EXPECT_EQ(exposure.Reason(), "it has no access list: Everyone may do anything with it");
    const TFolderExposure parent = EvaluateBuiltAbove(kAdministratorsOnly, none);
    ExpectExposed(parent, TFolderRight::DeleteChild, TFolderPlace::Above, 1, "S-1-1-0");
    EXPECT_EQ(parent.Reason(), "its parent folder has no access list: Everyone may do anything with it");
}

TEST(FolderSecurity, DenyEntriesTakeAwayOnlyFromTheAccountTheyName) {
    const std::string base = "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";
    // Before the allow entry of the same account: those rights are gone.
    ExpectProtected(Evaluate({"O:BAD:P(D;;0x1d0156;;;" + kUser + ")(A;;FA;;;" + kUser + ")(A;;FA;;;BA)"}));
    // Only the rights it names: deleting what is inside stays.
    ExpectExposed(Evaluate({base + "(D;;0x116;;;BU)(A;;FA;;;BU)"}), TFolderRight::DeleteChild,
                  TFolderPlace::Itself, 0, "S-1-5-32-545");
    // After the allow entry it comes too late, as the system reads them in order.
    ExpectExposed(Evaluate({base + "(A;;FA;;;BU)(D;;FA;;;BU)"}), TFolderRight::Write, TFolderPlace::Itself, 0,
                  "S-1-5-32-545");
    // A deny for one user leaves Everyone's rights to all the others.
    ExpectExposed(Evaluate({base + "(D;;FA;;;" + kUser + ")(A;;FA;;;WD)"}), TFolderRight::Write,
                  TFolderPlace::Itself, 0, "S-1-1-0");
}

TEST(FolderSecurity, ADenyForEveryoneTakesFromEveryAccount) {
    const std::string base = "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";
    ExpectProtected(Evaluate({base + "(D;;FA;;;WD)(A;;FA;;;BU)"}));
    ExpectProtected(Evaluate({kAdministratorsOnly + "(D;OICIIO;FA;;;WD)(A;OICIIO;FA;;;AU)"}));
    // Only the rights it names, and only before the allow entry.
    ExpectExposed(Evaluate({base + "(D;;0x116;;;WD)(A;;FA;;;BU)"}), TFolderRight::DeleteChild,
                  TFolderPlace::Itself, 0, "S-1-5-32-545");
    ExpectExposed(Evaluate({base + "(A;;FA;;;BU)(D;;FA;;;WD)"}), TFolderRight::Write, TFolderPlace::Itself, 0,
                  "S-1-5-32-545");
}

TEST(FolderSecurity, DenyAndAllowForDifferentKindsOfNewItemsDoNotMeet) {
    // Each row: a deny and an allow for Users that reach different new items; the allow wins on
    // the items that the deny does not reach.
    const char* rows[] = {
        "(D;CIIO;FA;;;BU)(A;OIIO;FA;;;BU)",        // new files: Uninstall.exe among them
        "(D;OIIO;FA;;;BU)(A;CIIO;FA;;;BU)",        // new folders
        "(D;OICIIONP;FA;;;BU)(A;OICIIO;FA;;;BU)",  // what is created deeper down
        "(D;OIIONP;FA;;;BU)(A;OIIO;FA;;;BU)",      // files in new folders
        "(D;CIIONP;FA;;;BU)(A;CIIO;FA;;;BU)",      // folders in new folders
    };
    for (const char* entries : rows) {
        ExpectExposed(Evaluate({kAdministratorsOnly + entries}), TFolderRight::Write,
                      TFolderPlace::NewContents, 0, "S-1-5-32-545");
    }
    // A deny that reaches every item the allow reaches takes it all.
    ExpectProtected(Evaluate({kAdministratorsOnly + "(D;OICIIO;FA;;;BU)(A;OIIO;FA;;;BU)"}));
    ExpectProtected(Evaluate({kAdministratorsOnly + "(D;OICIIO;FA;;;BU)(A;OICIIONP;FA;;;BU)"}));
    // An allow that stops at the items right inside meets a deny for those alone.
    ExpectProtected(Evaluate({kAdministratorsOnly + "(D;OIIONP;FA;;;BU)(A;OIIONP;FA;;;BU)"}));
}

TEST(FolderSecurity, CreatorGroupStandsForTheCreatorsGroupOnNewItems) {
    // The creator's primary group holds other accounts: new items give it their rights.
    const std::pair<const char*, TFolderRight> rows[] = {
        {"(A;OICIIO;GA;;;CG)", TFolderRight::Write},
        {"(A;OIIO;WD;;;CG)", TFolderRight::ChangePermissions},
        {"(A;CIIO;WO;;;CG)", TFolderRight::TakeOwnership},
    };
    for (const auto& [entry, right] : rows) {
        const TFolderExposure exposure = Evaluate({kAdministratorsOnly + entry});
        ExpectExposed(exposure, right, TFolderPlace::NewContents, 0, "S-1-3-1");
        EXPECT_EQ(exposure.Reason(), "CREATOR GROUP may change what is created inside it") << entry;
    }
    // On the folder itself it is in nobody's token; CREATOR OWNER on new items is the creator.
    ExpectProtected(Evaluate({kAdministratorsOnly + "(A;;FA;;;CG)(A;OICIIO;GA;;;CO)"}));
}

TEST(FolderSecurity, OwnerRightsEntriesLimitTheOwner) {
    // The owner keeps only what OWNER RIGHTS gives, here reading: not the permissions.
    const std::string limited = "O:" + kUser + "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200a9;;;OW)";
    ExpectProtected(Evaluate({limited}));
    ExpectProtected(Evaluate({kAdministratorsOnly, limited}));
    // An OWNER RIGHTS entry that gives the permissions, or one for new items only, limits nothing.
    ExpectExposed(Evaluate({"O:" + kUser + "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;WD;;;OW)"}),
                  TFolderRight::ChangePermissions, TFolderPlace::Itself, 0, "S-1-3-4");
    ExpectExposed(Evaluate({"O:" + kUser + "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;0x1200a9;;;OW)"}),
                  TFolderRight::Owner, TFolderPlace::Itself, 0, kUser);
    ExpectExposed(Evaluate({kAdministratorsOnly,
                            "O:" + kUser + "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GR;;;OW)"}),
                  TFolderRight::Owner, TFolderPlace::Above, 1, kUser);
}

TEST(FolderSecurity, FoldersAboveFromAGivenLevel) {
    const auto open = SecurityDescriptorFromText("O:BAD:P(A;;FA;;;BA)(A;;FA;;;WD)");
    const auto kept = SecurityDescriptorFromText(kAdministratorsOnly);
    const auto root = SecurityDescriptorFromText(kDriveRoot);
    // The nearest folder that exists above a destination still to be made two levels below it.
    const PSECURITY_DESCRIPTOR exposed[] = {open.get(), root.get()};
    ExpectExposed(EvaluateFoldersAbove(exposed, 2, true), TFolderRight::DeleteChild, TFolderPlace::Above, 2,
                  "S-1-1-0");
    const PSECURITY_DESCRIPTOR higher[] = {kept.get(), open.get(), root.get()};
    ExpectExposed(EvaluateFoldersAbove(higher, 1, true), TFolderRight::DeleteChild, TFolderPlace::Above, 2,
                  "S-1-1-0");
    // A root others may write into is no folder that can be renamed.
    const PSECURITY_DESCRIPTOR safe[] = {kept.get(), root.get()};
    ExpectProtected(EvaluateFoldersAbove(safe, 1, true));
}

TEST(FolderSecurity, InheritOnlyEntriesCountForWhatIsCreatedInside) {
    const TFolderExposure exposure = Evaluate({kAdministratorsOnly + "(A;OICIIO;FA;;;BU)"});
    ExpectExposed(exposure, TFolderRight::Write, TFolderPlace::NewContents, 0, "S-1-5-32-545");
    EXPECT_EQ(exposure.Reason(), "Users may change what is created inside it");
    ExpectExposed(Evaluate({kAdministratorsOnly + "(A;CIIO;WD;;;AU)"}), TFolderRight::ChangePermissions,
                  TFolderPlace::NewContents, 0, "S-1-5-11");
    // An entry that is inherited as well as effective counts on the folder itself first.
    ExpectExposed(Evaluate({kAdministratorsOnly + "(A;OICI;FA;;;BU)"}), TFolderRight::Write,
                  TFolderPlace::Itself, 0, "S-1-5-32-545");
    // An effective entry that is not inherited stays with the folder: reading it is fine.
    ExpectProtected(Evaluate({kAdministratorsOnly + "(A;;0x1200a9;;;WD)(A;OICIIO;GA;;;CO)"}));
}

TEST(FolderSecurity, FoldersAboveCountForRenamingAndPermissions) {
    // Users may delete what is in the parent: the folder can be renamed away and replaced.
    const TFolderExposure parent = Evaluate({kAdministratorsOnly, "O:BAD:P(A;;FA;;;BA)(A;;0x1200e9;;;BU)"});
    ExpectExposed(parent, TFolderRight::DeleteChild, TFolderPlace::Above, 1, "S-1-5-32-545");
    EXPECT_EQ(parent.Reason(), "Users may delete or rename it through its parent folder");
    // Writing into the parent adds beside the folder and changes nothing of it.
    ExpectProtected(Evaluate({kAdministratorsOnly, "O:BAD:P(A;;FA;;;BA)(A;;0x1201bf;;;AU)"}, true));
    // The parent's own DELETE renames it, and the folder with it; a root cannot be renamed.
    const TFolderExposure renamable = Evaluate({kAdministratorsOnly, kDriveRootModify});
    ExpectExposed(renamable, TFolderRight::Delete, TFolderPlace::Above, 1, "S-1-5-11");
    EXPECT_EQ(renamable.Reason(), "Authenticated Users may rename its parent folder");
    ExpectProtected(Evaluate({kAdministratorsOnly, kDriveRootModify}, true));
    ExpectExposed(Evaluate({kAdministratorsOnly, kDriveRootModify, kDriveRoot}, true), TFolderRight::Delete,
                  TFolderPlace::Above, 1, "S-1-5-11");
    // Whoever may change the parent's permissions may give themselves the rest.
    ExpectExposed(Evaluate({kAdministratorsOnly, "O:BAD:P(A;;FA;;;BA)(A;;WD;;;BU)"}),
                  TFolderRight::ChangePermissions, TFolderPlace::Above, 1, "S-1-5-32-545");
    // A folder two levels up that a user owns.
    const TFolderExposure above = Evaluate(
        {kAdministratorsOnly, kAdministratorsOnly, "O:" + kUser + "D:P(A;;FA;;;BA)", kDriveRoot}, true);
    ExpectExposed(above, TFolderRight::Owner, TFolderPlace::Above, 2, kUser);
    EXPECT_EQ(above.Reason(), kUser + " owns a folder above it");
    // The folder itself is judged first.
    ExpectExposed(EvaluateBuiltAbove(kMadeInRoot, TBuiltDescriptor(nullptr)), TFolderRight::Write,
                  TFolderPlace::Itself, 0, "S-1-5-11");
}

TEST(FolderSecurity, TrustIsTheCallersChoice) {
    std::vector<std::string> trusted = DefaultTrustedAccounts();
    ASSERT_EQ(trusted.size(), 3u);
    EXPECT_EQ(trusted[2], kTrustedInstaller);
    trusted.push_back(kUser);
    ExpectProtected(Evaluate({kUserProfile}, false, trusted));
}

TEST(FolderSecurity, WhatCannotBeReadIsNotTrusted) {
    // No owner, no access list part.
    EXPECT_EQ(Evaluate({"D:P(A;;FA;;;SY)"}).right, TFolderRight::Unknown);
    EXPECT_EQ(Evaluate({"O:BA"}).right, TFolderRight::Unknown);
    const TFolderExposure parent = Evaluate({kAdministratorsOnly, "D:P(A;;FA;;;SY)"});
    ExpectExposed(parent, TFolderRight::Unknown, TFolderPlace::Above, 1, "");
    EXPECT_EQ(parent.Reason(), "the permissions of its parent folder cannot be read");
    // An object entry (a kind for directory objects, not files) in a file's list, written out by
    // hand: header, mask, flags, object type, the SID of Users.
    struct {
        ACE_HEADER header{ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, 0};
        ACCESS_MASK mask = FILE_WRITE_DATA;
        DWORD flags = ACE_OBJECT_TYPE_PRESENT;
        GUID type{0xbf967a86, 0x0de6, 0x11d0, {0xa2, 0x85, 0x00, 0xaa, 0x00, 0x30, 0x49, 0xe2}};
        BYTE sid[SECURITY_MAX_SID_SIZE];
    } entry;
    DWORD size = sizeof(entry.sid);
    ASSERT_TRUE(::CreateWellKnownSid(WinBuiltinUsersSid, nullptr, entry.sid, &size));
    entry.header.AceSize = static_cast<WORD>(offsetof(decltype(entry), sid) + size);
    alignas(DWORD) BYTE list[256];
    const auto dacl = reinterpret_cast<PACL>(list);
    ASSERT_TRUE(::InitializeAcl(dacl, sizeof(list), ACL_REVISION_DS));
    ASSERT_TRUE(::AddAce(dacl, ACL_REVISION_DS, MAXDWORD, &entry, entry.header.AceSize));
    EXPECT_EQ(EvaluateBuilt(TBuiltDescriptor(dacl)).right, TFolderRight::Unknown);
    const PSECURITY_DESCRIPTOR none = nullptr;
    EXPECT_EQ(EvaluateFolderSecurity({&none, 1}, false).right, TFolderRight::Unknown);
    EXPECT_EQ(EvaluateFolderSecurity({}, false).right, TFolderRight::Unknown);
}

// The SID of the account that runs this process.
std::string ProcessUser() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return {};
    }
    const UniqueKernelHandle owned(token);
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    DWORD size = 0;
    if (!::GetTokenInformation(token, TokenUser, &buffer, sizeof(buffer), &size)) {
        return {};
    }
    return SidText(buffer.user.User.Sid);
}

// A folder under the temporary folder, removed at the end.
class MadeFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = TemporaryName("tandrel-folder-security-");
        ::RemoveDirectoryA(path_.c_str());
    }
    void TearDown() override { ::RemoveDirectoryA(path_.c_str()); }

    // The folder and those above it, up to the root, read by handle and evaluated. The process's
    // own account is trusted too: under Wine, which keeps no access lists, every folder of the
    // prefix shows as owned by it, with full control.
    TFolderExposure EvaluateMade() {
        std::vector<UniqueSecurityDescriptor> owned;
        std::vector<PSECURITY_DESCRIPTOR> chain;
        std::string folder = path_;
        for (;;) {
            UniqueFileHandle handle(::CreateFileA(
                folder.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
            EXPECT_TRUE(handle) << folder;
            uint32_t error = 0;
            owned.push_back(ReadFolderSecurity(handle.get(), error));
            EXPECT_EQ(error, 0u) << folder;
            chain.push_back(owned.back().get());
            if (folder.size() <= 3) {
                break;
            }
            const size_t slash = folder.find_last_of('\\');
            folder = folder.substr(0, slash == 2 ? 3 : slash);
        }
        std::vector<std::string> trusted = DefaultTrustedAccounts();
        trusted.push_back(ProcessUser());
        text_ = SecurityDescriptorText(chain[0]);
        return EvaluateFolderSecurity(chain, true, trusted);
    }

    std::string path_;
    std::string text_;
};

TEST_F(MadeFolder, ProtectedAtCreation) {
    // Wine and an elevated Windows say yes; an unelevated Windows no. Recorded for the log.
    RecordProperty("IsRunningAsAdministrator", IsRunningAsAdministrator() ? "yes" : "no");
    ProtectedFolderSecurity security;
    ASSERT_TRUE(::CreateDirectoryA(path_.c_str(), security.Attributes())) << ::GetLastError();
    const TFolderExposure exposure = EvaluateMade();
    ExpectProtected(exposure);
    RecordProperty("ReadBack", text_);
}

TEST_F(MadeFolder, OpenToEveryoneThenProtected) {
    ASSERT_TRUE(::CreateDirectoryA(path_.c_str(), nullptr)) << ::GetLastError();
    UniqueFileHandle folder(::CreateFileA(path_.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                          nullptr));
    ASSERT_TRUE(folder);
    // Everyone may change it (under Wine: mode 0777, which a folder made by Wine never has).
    const auto open = SecurityDescriptorFromText("D:P(A;OICI;FA;;;WD)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
    PACL dacl = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(open.get(), &present, &dacl, &defaulted));
    ASSERT_EQ(::SetSecurityInfo(folder.get(), SE_FILE_OBJECT,
                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, dacl, nullptr),
              0u);
    ExpectExposed(EvaluateMade(), TFolderRight::Write, TFolderPlace::Itself, 0, "S-1-1-0");

    // Taken while empty: protected like a new one.
    EXPECT_EQ(ProtectedFolderSecurity().ApplyTo(folder.get()), 0u);
    ExpectProtected(EvaluateMade());
    RecordProperty("ReadBack", text_);
}

}  // namespace
