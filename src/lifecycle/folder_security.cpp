#include "lifecycle/folder_security.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <map>

#include "framework/file_stream.h"
#include "framework/sysutils.h"
#include "lifecycle/removal_plan.h"
#include "lifecycle/safe_files.h"

namespace {

constexpr ACCESS_MASK kWriteRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES;
constexpr ACCESS_MASK kFolderRights = kWriteRights | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;

constexpr char kEveryone[] = "S-1-1-0";
constexpr char kCreatorOwner[] = "S-1-3-0";
constexpr char kCreatorGroup[] = "S-1-3-1";
constexpr char kOwnerRights[] = "S-1-3-4";

// Full control for SYSTEM and Administrators, read and run (0x1200a9: FILE_GENERIC_READ and
// FILE_GENERIC_EXECUTE) for Users, each inherited by files and folders inside; "P": nothing is
// inherited from above.
constexpr char kProtectedFolderSddl[] = "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

using UniqueLocalText = Unique<HandleTraits<char*, &::LocalFree>>;

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::ranges::find(list, item) != list.end();
}

// The generic rights of an entry (GENERIC_WRITE and the like, kept as such in inherit-only
// entries) as the specific rights of a file or folder.
ACCESS_MASK MapFileRights(ACCESS_MASK mask) {
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    ::MapGenericMask(&mask, &mapping);
    return mask;
}

// The right that counts most among those granted, in the order of TFolderRight.
TFolderRight StrongestRight(ACCESS_MASK granted) {
    if (granted & kWriteRights) {
        return TFolderRight::Write;
    }
    if (granted & FILE_DELETE_CHILD) {
        return TFolderRight::DeleteChild;
    }
    if (granted & DELETE) {
        return TFolderRight::Delete;
    }
    if (granted & WRITE_DAC) {
        return TFolderRight::ChangePermissions;
    }
    return TFolderRight::TakeOwnership;
}

// One allow entry that gives an untrusted account some of the rights asked about.
struct TGrant {
    std::string account;
    ACCESS_MASK rights = 0;
    bool unknownEntry = false;
};

TGrant UnknownEntry() {
    TGrant grant;
    grant.unknownEntry = true;
    return grant;
}

// The items that an entry may reach: the folder itself, the files and folders created right inside
// it, and those created deeper down (through the folders created inside, whose entries are inherited
// from it).
enum class TReached { Itself, NewFiles, NewFolders, DeeperFiles, DeeperFolders };
constexpr TReached kNewContents[] = {TReached::NewFiles, TReached::NewFolders, TReached::DeeperFiles,
                                     TReached::DeeperFolders};

// Whether an entry with these flags applies to the items reached. An entry inherited by files only
// (or by folders only) says nothing about the other kind, so a deny and an allow for different
// kinds never meet; one that does not propagate stops at the items right inside.
bool Reaches(BYTE flags, TReached reached) {
    const bool files = (flags & OBJECT_INHERIT_ACE) != 0;
    const bool folders = (flags & CONTAINER_INHERIT_ACE) != 0;
    const bool further = (flags & NO_PROPAGATE_INHERIT_ACE) == 0;
    switch (reached) {
        case TReached::Itself:
            return (flags & INHERIT_ONLY_ACE) == 0;
        case TReached::NewFiles:
            return files;
        case TReached::NewFolders:
            return folders;
        case TReached::DeeperFiles:
            return files && further;
        case TReached::DeeperFolders:
            return folders && further;
    }
    return false;
}

// The owner and the access list of one descriptor, and whom it trusts.
class TDescriptorView {
  public:
    TDescriptorView(PSECURITY_DESCRIPTOR descriptor, const std::vector<std::string>& trusted)
        : trusted_(trusted) {
        if (descriptor == nullptr || !::IsValidSecurityDescriptor(descriptor)) {
            return;
        }
        PSID owner = nullptr;
        BOOL ownerDefaulted = FALSE;
        BOOL present = FALSE;
        BOOL daclDefaulted = FALSE;
        if (!::GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) || owner == nullptr ||
            !::GetSecurityDescriptorDacl(descriptor, &present, &dacl_, &daclDefaulted) || !present) {
            return;
        }
        owner_ = SidText(owner);
        readable_ = !owner_.empty();
    }

    // Whether it holds an owner and an access list (which may be NULL).
    bool Readable() const { return readable_; }
    bool HasAccessList() const { return dacl_ != nullptr; }
    const std::string& Owner() const { return owner_; }
    bool OwnerTrusted() const { return Contains(trusted_, owner_); }

    // The first allow entry that gives an untrusted account one of the rights in wanted on the
    // items of kind reached: the folder itself, or one of the kinds of item created inside it.
    TGrant FirstGrant(ACCESS_MASK wanted, TReached reached) const {
        std::map<std::string, ACCESS_MASK> denied;
        ACCESS_MASK deniedToEveryone = 0;
        for (DWORD i = 0; i < dacl_->AceCount; ++i) {
            const ACE_HEADER* header = nullptr;
            PSID sid = nullptr;
            if (!EntryAt(i, header, sid)) {
                return UnknownEntry();
            }
            if (!Reaches(header->AceFlags, reached)) {
                continue;
            }
            const BYTE type = header->AceType;
            const std::string account = SidText(sid);
            const ACCESS_MASK mask = MapFileRights(reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->Mask);
            if (type == ACCESS_DENIED_ACE_TYPE) {
                // Everyone is in every token: a deny for Everyone takes the rights from all.
                (account == kEveryone ? deniedToEveryone : denied[account]) |= mask;
                continue;
            }
            // A condition may be false: its deny takes nothing away, its allow may give.
            if (type == ACCESS_DENIED_CALLBACK_ACE_TYPE || Harmless(account, reached != TReached::Itself)) {
                continue;
            }
            const ACCESS_MASK granted = mask & wanted & ~denied[account] & ~deniedToEveryone;
            if (granted != 0) {
                return {.account = account, .rights = granted, .unknownEntry = false};
            }
        }
        return {};
    }

    // Whether the list names OWNER RIGHTS in an entry on the folder itself: the owner then has the
    // rights of those entries, not the right to change the permissions that owning gives.
    bool OwnerRightsLimitOwner() const {
        for (DWORD i = 0; dacl_ != nullptr && i < dacl_->AceCount; ++i) {
            const ACE_HEADER* header = nullptr;
            PSID sid = nullptr;
            if (EntryAt(i, header, sid) && Reaches(header->AceFlags, TReached::Itself) &&
                SidText(sid) == kOwnerRights) {
                return true;
            }
        }
        return false;
    }

  private:
    // The entry at index, when it is of a kind understood here (allowed, denied and their callback
    // forms, which share one layout: header, mask, SID, whose count of parts, its second byte,
    // gives its length, all within the entry's size).
    bool EntryAt(DWORD index, const ACE_HEADER*& header, PSID& sid) const {
        void* entry = nullptr;
        if (!::GetAce(dacl_, index, &entry)) {
            return false;
        }
        header = static_cast<const ACE_HEADER*>(entry);
        const BYTE type = header->AceType;
        const bool known = type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
                           type == ACCESS_DENIED_ACE_TYPE || type == ACCESS_DENIED_CALLBACK_ACE_TYPE;
        const size_t sidOffset = offsetof(ACCESS_ALLOWED_ACE, SidStart);
        if (!known || header->AceSize < sidOffset + ::GetSidLengthRequired(0)) {
            return false;
        }
        sid = const_cast<DWORD*>(&static_cast<const ACCESS_ALLOWED_ACE*>(entry)->SidStart);
        const BYTE parts = static_cast<const BYTE*>(sid)[1];
        return ::GetSidLengthRequired(parts) <= header->AceSize - sidOffset && ::IsValidSid(sid);
    }

    bool Harmless(const std::string& account, bool newContents) const {
        if (Contains(trusted_, account)) {
            return true;
        }
        // CREATOR OWNER and CREATOR GROUP are in no one's token: on the folder itself they give
        // nothing. On what is created inside, CREATOR OWNER stands for the creator (an
        // administrator, when only they can create there), but CREATOR GROUP for the creator's
        // primary group, which holds other accounts. OWNER RIGHTS stands for the owner of the
        // object, whose trust is tested by itself.
        if (account == kCreatorOwner) {
            return true;
        }
        if (account == kCreatorGroup) {
            return !newContents;
        }
        return account == kOwnerRights && (newContents || OwnerTrusted());
    }

    const std::vector<std::string>& trusted_;
    PACL dacl_ = nullptr;
    std::string owner_;
    bool readable_ = false;
};

TFolderExposure Exposure(TFolderRight right, TFolderPlace place, size_t level, std::string account = {}) {
    return {
        .right = right, .place = place, .level = level, .account = std::move(account), .noAccessList = false};
}

TFolderExposure NoAccessList(TFolderPlace place, size_t level) {
    TFolderExposure exposure =
        Exposure(place == TFolderPlace::Itself ? TFolderRight::Write : TFolderRight::DeleteChild, place,
                 level, kEveryone);
    exposure.noAccessList = true;
    return exposure;
}

TFolderExposure EvaluateFolder(const TDescriptorView& folder) {
    if (!folder.Readable()) {
        return Exposure(TFolderRight::Unknown, TFolderPlace::Itself, 0);
    }
    if (!folder.HasAccessList()) {
        return NoAccessList(TFolderPlace::Itself, 0);
    }
    const TGrant own = folder.FirstGrant(kFolderRights, TReached::Itself);
    if (own.unknownEntry) {
        return Exposure(TFolderRight::Unknown, TFolderPlace::Itself, 0);
    }
    if (own.rights != 0) {
        return Exposure(StrongestRight(own.rights), TFolderPlace::Itself, 0, own.account);
    }
    if (!folder.OwnerTrusted() && !folder.OwnerRightsLimitOwner()) {
        return Exposure(TFolderRight::Owner, TFolderPlace::Itself, 0, folder.Owner());
    }
    for (const TReached reached : kNewContents) {
        const TGrant inside = folder.FirstGrant(kFolderRights, reached);
        if (inside.unknownEntry) {
            return Exposure(TFolderRight::Unknown, TFolderPlace::NewContents, 0);
        }
        if (inside.rights != 0) {
            return Exposure(StrongestRight(inside.rights), TFolderPlace::NewContents, 0, inside.account);
        }
    }
    return {};
}

TFolderExposure EvaluateAbove(const TDescriptorView& above, size_t level, bool isRoot) {
    if (!above.Readable()) {
        return Exposure(TFolderRight::Unknown, TFolderPlace::Above, level);
    }
    if (!above.HasAccessList()) {
        return NoAccessList(TFolderPlace::Above, level);
    }
    const ACCESS_MASK wanted = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | (isRoot ? 0 : DELETE);
    const TGrant grant = above.FirstGrant(wanted, TReached::Itself);
    if (grant.unknownEntry) {
        return Exposure(TFolderRight::Unknown, TFolderPlace::Above, level);
    }
    if (grant.rights != 0) {
        return Exposure(StrongestRight(grant.rights), TFolderPlace::Above, level, grant.account);
    }
    if (!above.OwnerTrusted() && !above.OwnerRightsLimitOwner()) {
        return Exposure(TFolderRight::Owner, TFolderPlace::Above, level, above.Owner());
    }
    return {};
}

// The name under which the account is shown: the usual English name of a well-known group, else
// the name the system has for it ("PC\alice"), else its SID text.
std::string AccountName(const std::string& account) {
    static const std::map<std::string, const char*> kWellKnown = {
        {"S-1-1-0", "Everyone"},         {"S-1-5-11", "Authenticated Users"},
        {"S-1-5-32-545", "Users"},       {"S-1-5-4", "INTERACTIVE"},
        {"S-1-5-32-546", "Guests"},      {"S-1-5-32-547", "Power Users"},
        {"S-1-5-7", "ANONYMOUS LOGON"},  {"S-1-5-2", "NETWORK"},
        {"S-1-5-6", "SERVICE"},          {"S-1-5-19", "LOCAL SERVICE"},
        {"S-1-5-20", "NETWORK SERVICE"}, {"S-1-15-2-1", "ALL APPLICATION PACKAGES"},
        {"S-1-3-4", "OWNER RIGHTS"},     {"S-1-3-1", "CREATOR GROUP"},
    };
    if (const auto known = kWellKnown.find(account); known != kWellKnown.end()) {
        return known->second;
    }
    PSID sid = nullptr;
    if (!::ConvertStringSidToSidA(account.c_str(), &sid)) {
        return account;
    }
    const Unique<HandleTraits<PSID, &::LocalFree>> ownedSid(sid);
    char name[256];
    char domain[256];
    DWORD nameSize = sizeof(name);
    DWORD domainSize = sizeof(domain);
    SID_NAME_USE use;
    if (!::LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
        return account;
    }
    return domain[0] != '\0' ? std::string(domain) + "\\" + name : std::string(name);
}

}  // namespace

bool IsRunningAsAdministrator() {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(sid);
    BOOL member = FALSE;
    // With no token given, the check uses the thread's own (impersonation, else the process's),
    // where the Administrators group of a filtered token is for denying only and so not a member.
    return ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) &&
           ::CheckTokenMembership(nullptr, sid, &member) && member;
}

std::string SidText(PSID sid) {
    char* text = nullptr;
    if (!::ConvertSidToStringSidA(sid, &text)) {
        return {};
    }
    UniqueLocalText owned(text);
    return text;
}

std::vector<std::string> DefaultTrustedAccounts() {
    return {"S-1-5-18", "S-1-5-32-544", "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};
}

TFolderExposure EvaluateFolderSecurity(std::span<const PSECURITY_DESCRIPTOR> chain,
                                       bool endsAtRoot,
                                       const std::vector<std::string>& trusted) {
    if (chain.empty()) {
        return Exposure(TFolderRight::Unknown, TFolderPlace::Itself, 0);
    }
    if (TFolderExposure folder = EvaluateFolder(TDescriptorView(chain[0], trusted))) {
        return folder;
    }
    return EvaluateFoldersAbove(chain.subspan(1), 1, endsAtRoot, trusted);
}

TFolderExposure EvaluateFoldersAbove(std::span<const PSECURITY_DESCRIPTOR> above,
                                     size_t firstLevel,
                                     bool endsAtRoot,
                                     const std::vector<std::string>& trusted) {
    for (size_t index = 0; index < above.size(); ++index) {
        const bool isRoot = endsAtRoot && index + 1 == above.size();
        if (TFolderExposure exposure =
                EvaluateAbove(TDescriptorView(above[index], trusted), firstLevel + index, isRoot)) {
            return exposure;
        }
    }
    return {};
}

std::string TFolderExposure::Reason() const {
    const std::string what = place != TFolderPlace::Above ? "it"
                             : level == 1                 ? "its parent folder"
                                                          : "a folder above it";
    if (right == TFolderRight::None) {
        return {};
    }
    if (right == TFolderRight::Unknown) {
        if (place == TFolderPlace::Above) {
            return "the permissions of " + what + " cannot be read";
        }
        return "its permissions cannot be read";
    }
    if (noAccessList) {
        return what + " has no access list: Everyone may do anything with it";
    }
    const std::string who = AccountName(account) + " ";
    if (place == TFolderPlace::NewContents) {
        return who + "may change what is created inside it";
    }
    if (place == TFolderPlace::Itself) {
        switch (right) {
            case TFolderRight::Write:
                return who + "may write into it";
            case TFolderRight::DeleteChild:
                return who + "may delete what is inside it";
            case TFolderRight::Delete:
                return who + "may delete or rename it";
            case TFolderRight::ChangePermissions:
                return who + "may change its permissions";
            case TFolderRight::TakeOwnership:
                return who + "may take ownership of it";
            default:
                return who + "owns it and may change its permissions";
        }
    }
    switch (right) {
        case TFolderRight::DeleteChild:
            return who + (level == 1 ? "may delete or rename it through its parent folder"
                                     : "may rename a folder above it");
        case TFolderRight::Delete:
            return who + "may rename " + what;
        case TFolderRight::ChangePermissions:
            return who + "may change the permissions of " + what;
        case TFolderRight::TakeOwnership:
            return who + "may take ownership of " + what;
        default:
            return who + "owns " + what;
    }
}

ProtectedFolderSecurity::ProtectedFolderSecurity()
    : descriptor_(SecurityDescriptorFromText(kProtectedFolderSddl)) {
    if (!descriptor_) {
        const DWORD error = ::GetLastError();
        throw EInOutError(SystemErrorText(error), error);
    }
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = descriptor_.get();
    attributes_.bInheritHandle = FALSE;
}

uint32_t ProtectedFolderSecurity::ApplyTo(HANDLE folder) const {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE;
    BOOL present = FALSE;
    if (!::GetSecurityDescriptorOwner(descriptor_.get(), &owner, &defaulted) ||
        !::GetSecurityDescriptorDacl(descriptor_.get(), &present, &dacl, &defaulted)) {
        return ::GetLastError();
    }
    return ::SetSecurityInfo(
        folder, SE_FILE_OBJECT,
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, owner,
        nullptr, dacl, nullptr);
}

UniqueSecurityDescriptor ReadFolderSecurity(HANDLE folder, uint32_t& error) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    error = ::GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr, &descriptor);
    return UniqueSecurityDescriptor(error == ERROR_SUCCESS ? descriptor : nullptr);
}

UniqueSecurityDescriptor SecurityDescriptorFromText(const std::string& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                nullptr)) {
        return UniqueSecurityDescriptor();
    }
    return UniqueSecurityDescriptor(descriptor);
}

std::string SecurityDescriptorText(PSECURITY_DESCRIPTOR descriptor) {
    char* text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorA(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
            nullptr)) {
        return {};
    }
    UniqueLocalText owned(text);
    return text;
}

namespace {

bool RunsUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The descriptor of the item at path (never through a link), or nothing.
UniqueSecurityDescriptor SecurityOfPath(const std::string& path) {
    const UniqueFileHandle item(::CreateFileA(
        path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    uint32_t error = 0;
    return item ? ReadFolderSecurity(item.get(), error) : UniqueSecurityDescriptor();
}

}  // namespace

std::vector<std::string> InstallationTrustedAccounts() {
    std::vector<std::string> trusted = DefaultTrustedAccounts();
    if (!RunsUnderWine()) {
        return trusted;
    }
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return trusted;
    }
    const UniqueKernelHandle owned(token);
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size != 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        trusted.push_back(SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid));
    }
    return trusted;
}

namespace {

// The folders from path up to its volume's root: their paths and descriptors, each read by its path
// without following a link (a link on the way is judged by its own permissions: whoever may change
// it may redirect the path).
struct TFolderChain {
    std::vector<std::string> Paths;
    std::vector<UniqueSecurityDescriptor> Owned;
    bool EndsAtRoot = false;

    void Add(const std::string& path, UniqueSecurityDescriptor descriptor) {
        Paths.push_back(path);
        Owned.push_back(std::move(descriptor));
    }
    // Adds the folders above path, its parent first.
    void AddAbove(std::string path) {
        while (true) {
            const size_t cut = path.rfind('\\');
            if (cut == std::string::npos || cut < 2) {
                return;
            }
            path.resize(cut);
            const bool root = path.size() == 2 && path[1] == ':';
            Add(root ? path + "\\" : path, SecurityOfPath(root ? path + "\\" : path));
            if (root) {
                EndsAtRoot = true;
                return;
            }
        }
    }
    std::vector<PSECURITY_DESCRIPTOR> Descriptors() const {
        std::vector<PSECURITY_DESCRIPTOR> chain;
        for (const UniqueSecurityDescriptor& descriptor : Owned) {
            chain.push_back(descriptor.get());
        }
        return chain;
    }
};

// The path of the open folder as the system resolved it, links on the way followed ("C:\\real"),
// or empty when it cannot say or it is not on a lettered drive.
std::string ResolvedPath(HANDLE folder) {
    char path[MAX_PATH + 8] = {};
    const DWORD length =
        ::GetFinalPathNameByHandleA(folder, path, sizeof path, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= sizeof path) {
        return {};
    }
    std::string resolved(path, length);
    if (resolved.rfind("\\\\?\\", 0) == 0) {
        resolved.erase(0, 4);
    }
    const bool lettered = resolved.size() >= 3 && resolved[1] == ':' && resolved[2] == '\\';
    return lettered ? WithoutTrailingBackslash(resolved) : std::string();
}

// The first exposure of the folders above the folder at spelled (held open by folder), counted
// from firstLevel: those its path names and, when the path passes a link, those the system really
// passes to reach it. where: the folder exposed.
TFolderExposure ExposureAbove(const std::string& spelled,
                              HANDLE folder,
                              size_t firstLevel,
                              const std::vector<std::string>& trusted,
                              std::string& where) {
    std::vector<std::string> paths = {spelled};
    const std::string resolved = ResolvedPath(folder);
    if (!resolved.empty() && !SameTextAscii(resolved, WithoutTrailingBackslash(spelled))) {
        paths.push_back(resolved);
    }
    for (const std::string& path : paths) {
        TFolderChain chain;
        chain.AddAbove(path);
        const std::vector<PSECURITY_DESCRIPTOR> descriptors = chain.Descriptors();
        if (TFolderExposure exposure =
                EvaluateFoldersAbove(descriptors, firstLevel, chain.EndsAtRoot, trusted)) {
            where = chain.Paths[exposure.level - firstLevel];
            return exposure;
        }
    }
    return {};
}

}  // namespace

TFolderExposure InstallationExposure(TSafeFolder& folder,
                                     const std::vector<std::string>& files,
                                     std::string& where) {
    // The folder by the handle that holds it, then each folder above it.
    uint32_t error = 0;
    const UniqueSecurityDescriptor own = ReadFolderSecurity(folder.RootHandle(), error);
    const std::vector<std::string> trusted = InstallationTrustedAccounts();
    where.clear();
    const PSECURITY_DESCRIPTOR itself[] = {own.get()};
    if (TFolderExposure exposure = EvaluateFolderSecurity(itself, false, trusted)) {
        return exposure;
    }
    std::string above;
    if (TFolderExposure exposure = ExposureAbove(folder.Root(), folder.RootHandle(), 1, trusted, above)) {
        return exposure;
    }
    // Each file as the folder's own contents: its parents are the folder's chain, judged above.
    for (const std::string& name : files) {
        if (!folder.Exists(name)) {
            continue;
        }
        UniqueSecurityDescriptor file = SecurityOfPath(folder.PathOf(name));
        const PSECURITY_DESCRIPTOR fileChain[] = {file.get(), own.get()};
        if (TFolderExposure exposure = EvaluateFolderSecurity(fileChain, false, trusted)) {
            where = name;
            return exposure;
        }
    }
    return {};
}

TFolderExposure NewDestinationExposure(const std::string& nearest, size_t missing, std::string& where) {
    // "C:\\" for a drive's root, any other folder without a trailing backslash.
    std::string existing = WithoutTrailingBackslash(nearest);
    if (existing.size() == 2 && existing[1] == ':') {
        existing += '\\';
    }
    where = existing;
    const UniqueFileHandle folder(::CreateFileA(existing.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder) {
        return Exposure(TFolderRight::Unknown, TFolderPlace::Above, missing);
    }
    const std::vector<std::string> trusted = InstallationTrustedAccounts();
    // The folder that exists, as the nearest folder above the destination (its path's own item, a
    // link included, and the folder the system reaches through it), then those above it.
    uint32_t error = 0;
    const UniqueSecurityDescriptor named = SecurityOfPath(existing);
    const UniqueSecurityDescriptor reached = ReadFolderSecurity(folder.get(), error);
    const bool root = existing.size() <= 3 && existing.size() >= 2 && existing[1] == ':';
    for (const PSECURITY_DESCRIPTOR descriptor : {named.get(), reached.get()}) {
        if (TFolderExposure exposure = EvaluateFoldersAbove({&descriptor, 1}, missing, root, trusted)) {
            return exposure;
        }
    }
    if (root) {
        return {};
    }
    return ExposureAbove(existing, folder.get(), missing + 1, trusted, where);
}

std::string UntrustedInstallation(TSafeFolder& folder, const std::vector<std::string>& files) {
    if (!IsRunningAsAdministrator()) {
        return {};
    }
    std::string where;
    const TFolderExposure exposure = InstallationExposure(folder, files, where);
    if (!exposure) {
        return {};
    }
    const std::string what = where.empty() ? folder.Root() : AddTrailingBackslash(folder.Root()) + where;
    return what + " can be changed by accounts other than the administrators (" + exposure.Reason() + ")";
}
