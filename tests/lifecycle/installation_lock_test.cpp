// The installation's lock: one run at a time whatever path spells the folder, no name that another
// account could take first, and the hand-over to the copy that runs a removal.
#include "lifecycle/installation_lock.h"

#include <windows.h>

#include <cctype>
#include <gtest/gtest.h>
#include <string>

#include "../common/temporary_name.h"

namespace {

std::string ExtractParent(const std::string& path) {
    return path.substr(0, path.rfind('\\') + 1);
}

class InstallationLock : public ::testing::Test {
  protected:
    void SetUp() override {
        // A long name, so that the folder has a short one that differs.
        path_ = TemporaryName("Tandrel lock test folder ");
        ASSERT_TRUE(::CreateDirectoryA(path_.c_str(), nullptr)) << ::GetLastError();
    }
    void TearDown() override { ::RemoveDirectoryA(path_.c_str()); }

    // The folder opened as another program might hold it.
    UniqueFileHandle OpenFolder(DWORD access, DWORD share) const {
        return UniqueFileHandle(::CreateFileA(path_.c_str(), access, share, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    }

    std::string path_;
};

TEST_F(InstallationLock, OneRunAtATimeWhateverTheSpelling) {
    char shortPath[MAX_PATH] = {};
    ASSERT_NE(::GetShortPathNameA(path_.c_str(), shortPath, MAX_PATH), 0u);
    std::string upper = path_;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    TInstallationLock first(path_);
    ASSERT_TRUE(first.Held()) << first.Failure();
    for (const std::string& spelling :
         {path_, std::string(shortPath), upper, path_ + "\\", path_ + "\\.\\"}) {
        TInstallationLock second(spelling);
        EXPECT_FALSE(second.Held()) << spelling;
        EXPECT_TRUE(second.Busy()) << spelling << ": " << second.Failure();
        EXPECT_EQ(second.Failure(), std::string(kAnotherRunMessage) + ".");
    }
    first.Release();
    EXPECT_TRUE(TInstallationLock(std::string(shortPath)).Held());
}

TEST_F(InstallationLock, NoNameToSquatAndReadersDoNotBlock) {
    // Whatever names another account holds, the old ones among them, nothing is in the way.
    const UniqueKernelHandle squatted(::CreateMutexA(nullptr, TRUE, "Global\\Tandrel-Installation-squatted"));
    const UniqueKernelHandle local(::CreateMutexA(nullptr, TRUE, "Local\\Tandrel-Installation-squatted"));
    // A program whose current folder it is, or that lists it, shares writing.
    const UniqueFileHandle shell =
        OpenFolder(FILE_TRAVERSE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    const UniqueFileHandle lister =
        OpenFolder(FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    ASSERT_TRUE(shell);
    ASSERT_TRUE(lister);
    TInstallationLock lock(path_);
    EXPECT_TRUE(lock.Held()) << lock.Failure();
}

TEST_F(InstallationLock, AReaderThatLetsNobodyWriteIsNoOtherRun) {
    const UniqueFileHandle squatter = OpenFolder(FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_DELETE);
    ASSERT_TRUE(squatter);
    TInstallationLock lock(path_);
    EXPECT_FALSE(lock.Held());
    EXPECT_FALSE(lock.Busy());
    EXPECT_NE(lock.Failure().find("held open by another program"), std::string::npos) << lock.Failure();
}

TEST_F(InstallationLock, HandedOverOnlyAsTheLockOfThatFolder) {
    TInstallationLock original(path_);
    ASSERT_TRUE(original.Held());
    const HANDLE inheritable = original.Inheritable();
    ASSERT_NE(inheritable, nullptr);
    ASSERT_EQ(original.Inheritable(), inheritable);
    // A handle of the folder that is not the lock, or of another folder, or no handle at all: the
    // lock is taken as usual, and the original holds it.
    const UniqueFileHandle reader =
        OpenFolder(FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    const std::string temp = ExtractParent(path_);
    const UniqueFileHandle other(::CreateFileA(temp.c_str(), FILE_ADD_FILE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(other);
    for (const HANDLE handle :
         {reader.get(), other.get(), static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        TInstallationLock copy(path_, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle)));
        EXPECT_FALSE(copy.Held());
        EXPECT_TRUE(copy.Busy());
    }
    // The lock itself passes: a handle of its own, which outlives the original's.
    HANDLE handed = nullptr;
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), inheritable, ::GetCurrentProcess(), &handed, 0,
                                  FALSE, DUPLICATE_SAME_ACCESS));
    TInstallationLock copy(path_, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handed)));
    EXPECT_TRUE(copy.Held());
    original.Release();
    EXPECT_TRUE(TInstallationLock(path_).Busy());
    copy.Release();
    EXPECT_TRUE(TInstallationLock(path_).Held());
}

TEST_F(InstallationLock, AMissingFolderIsNotLocked) {
    TInstallationLock lock(path_ + "\\missing");
    EXPECT_FALSE(lock.Held());
    EXPECT_FALSE(lock.Busy());
    EXPECT_EQ(lock.Failure().rfind("Cannot open " + path_ + "\\missing (", 0), 0u) << lock.Failure();
}

}  // namespace
