// The safe file operations on real files: names outside the folder refused, a file held open by
// another handle found before anything goes, a read-only file removable, a folder removed only
// when empty; and the reading of an installation's record.
#include "lifecycle/safe_files.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "framework/sysutils.h"
#include "framework/unique_handle.h"
#include "lifecycle/install_record.h"
#include "uninstall/compare_ahead.h"
#include "uninstall/removal.h"

namespace {

class SafeFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char temp[MAX_PATH + 1] = {};
        ::GetTempPathA(sizeof temp, temp);
        root_ = AddTrailingBackslash(temp) + "safe-files-test-" + std::to_string(::GetCurrentProcessId());
        ASSERT_TRUE(::CreateDirectoryA(root_.c_str(), nullptr));
    }
    void TearDown() override {
        for (const char* name : {"sub\\b.txt", "a.txt", "b.txt", "ro.txt", "Uninstall.dat"}) {
            const std::string path = Path(name);
            ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileA(path.c_str());
        }
        for (const std::string& name : written_) {
            ::DeleteFileA(Path(name).c_str());
        }
        ::RemoveDirectoryA(Path("sub").c_str());
        ::RemoveDirectoryA(root_.c_str());
    }
    std::string Path(const std::string& name) const { return root_ + "\\" + name; }
    void Write(const std::string& name, const std::string& text) const {
        const UniqueFileHandle file(
            ::CreateFileA(Path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file);
        DWORD written = 0;
        ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    bool Exists(const std::string& name) const {
        return ::GetFileAttributesA(Path(name).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    std::string root_;
    std::vector<std::string> written_;  // more files to remove at the end
};

TEST_F(SafeFilesTest, PathsStayInsideTheFolder) {
    TSafeFolder folder(root_ + "\\");
    EXPECT_EQ(folder.Root(), root_);
    EXPECT_EQ(folder.PathOf("."), root_);
    EXPECT_EQ(folder.PathOf("sub\\b.txt"), root_ + "\\sub\\b.txt");
    for (const char* name : {"..\\a.txt", "sub\\..\\..\\a.txt", "C:\\windows\\win.ini", "\\a.txt",
                             "a.txt:stream", "sub/b.txt", "", "a.txt.", "*.txt"}) {
        EXPECT_THROW(folder.PathOf(name), EUnsafePath) << name;
    }
}

TEST_F(SafeFilesTest, HeldOpenFileIsInUseAndStays) {
    Write("a.txt", "abc");
    TSafeFolder folder(root_);
    {
        const UniqueFileHandle other(::CreateFileA(Path("a.txt").c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                   0, nullptr));
        ASSERT_TRUE(other);
        TRemovableFile file;
        EXPECT_EQ(folder.OpenForRemoval("a.txt", file), TOpenForRemoval::InUse);
    }
    TRemovableFile file;
    ASSERT_EQ(folder.OpenForRemoval("a.txt", file), TOpenForRemoval::Opened);
    EXPECT_EQ(file.Compare(3, Sha256Of("abc", 3)), TContents::Same);
    // The check changes nothing: closed without Remove, the file is still there.
    EXPECT_TRUE(file.CanRemove());
    file.Close();
    EXPECT_TRUE(Exists("a.txt"));
    // While it is held for removal nobody else can open it.
    ASSERT_EQ(folder.OpenForRemoval("a.txt", file), TOpenForRemoval::Opened);
    EXPECT_EQ(::CreateFileA(Path("a.txt").c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                            nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_TRUE(file.Remove());
    EXPECT_FALSE(Exists("a.txt"));
    EXPECT_EQ(folder.OpenForRemoval("a.txt", file), TOpenForRemoval::Missing);
}

// The folder is listed once for the checks of what is opened in it, and again for what that
// listing does not show: a file made after it, or one made anew under a name it shows, is found as
// the one the folder holds, not as one reached elsewhere.
TEST_F(SafeFilesTest, FilesMadeAfterTheFolderWasListedAreItsOwn) {
    Write("a.txt", "a");
    TSafeFolder folder(root_);
    TRemovableFile file;
    ASSERT_EQ(folder.OpenForRemoval("a.txt", file), TOpenForRemoval::Opened);
    file.Close();
    Write("b.txt", "b");
    ASSERT_EQ(folder.OpenForRemoval("b.txt", file), TOpenForRemoval::Opened);
    EXPECT_TRUE(file.Remove());
    // a.txt replaced by another file, held open meanwhile so that it cannot get a.txt's number.
    const UniqueFileHandle replaced(::CreateFileA(Path("a.txt").c_str(), GENERIC_READ,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                  nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(replaced);
    ASSERT_TRUE(::MoveFileA(Path("a.txt").c_str(), Path("b.txt").c_str()));
    Write("a.txt", "a again");
    ASSERT_EQ(folder.OpenForRemoval("a.txt", file), TOpenForRemoval::Opened);
    EXPECT_EQ(file.Compare(7, Sha256Of("a again", 7)), TContents::Same);
    EXPECT_TRUE(file.Remove());
    EXPECT_FALSE(Exists("a.txt"));
}

// A file is judged against a record's size and digest: another size is a change without a byte
// read (so a file that cannot be read is judged too), the same size is read whole, in blocks, and
// hashed; a file that cannot be read says so.
TEST_F(SafeFilesTest, ContentsAreJudgedBySizeThenByDigest) {
    std::string large(600 * 1024 + 17, '\0');
    for (size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<char>((i * 131) >> 7);
    }
    Write("a.txt", large);
    const Sha256Digest digest = Sha256Of(large.data(), large.size());
    const auto size = static_cast<int64_t>(large.size());
    TRemovableFile file;
    ASSERT_EQ(TSafeFolder(root_).OpenForRemoval("a.txt", file), TOpenForRemoval::Opened);
    EXPECT_EQ(file.Compare(size, digest), TContents::Same);
    EXPECT_EQ(file.Compare(size, digest), TContents::Same) << "read again from the start";
    Sha256Digest other = digest;
    other[0] ^= 1;
    EXPECT_EQ(file.Compare(size, other), TContents::Changed);
    EXPECT_EQ(file.Compare(size - 1, digest), TContents::Changed);
    EXPECT_EQ(file.Compare(size + 1, digest), TContents::Changed);
    file.Close();
    // Open for its attributes only: nothing can be read through this handle.
    const UniqueFileHandle attributesOnly(::CreateFileA(Path("a.txt").c_str(), FILE_READ_ATTRIBUTES,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                        OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(attributesOnly);
    EXPECT_EQ(CompareContents(attributesOnly.get(), size, digest), TContents::Unreadable);
    EXPECT_EQ(CompareContents(attributesOnly.get(), size + 1, digest), TContents::Changed);
    EXPECT_EQ(TRemovableFile().Compare(size, digest), TContents::Unreadable) << "nothing open";
}

TEST_F(SafeFilesTest, ReadOnlyFileIsRemovable) {
    Write("ro.txt", "x");
    ASSERT_TRUE(::SetFileAttributesA(Path("ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    TRemovableFile file;
    ASSERT_EQ(TSafeFolder(root_).OpenForRemoval("ro.txt", file), TOpenForRemoval::Opened);
    EXPECT_TRUE(file.CanRemove());
    file.Close();
    EXPECT_NE(::GetFileAttributesA(Path("ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u)
        << "attribute put back";
    ASSERT_EQ(TSafeFolder(root_).OpenForRemoval("ro.txt", file), TOpenForRemoval::Opened);
    EXPECT_TRUE(file.Remove());
    EXPECT_FALSE(Exists("ro.txt"));
}

TEST_F(SafeFilesTest, FilesGoByName) {
    Write("a.txt", "a");
    TSafeFolder folder(root_);
    const std::string outside = root_ + "-moved.txt";
    EXPECT_TRUE(folder.MoveOut("a.txt", outside));
    EXPECT_FALSE(Exists("a.txt"));
    EXPECT_TRUE(::DeleteFileA(outside.c_str()));
    EXPECT_THROW(folder.MoveOut("..\\a.txt", outside), EUnsafePath);
    EXPECT_THROW(folder.RemoveFile("sub\\..\\..\\a.txt"), EUnsafePath);
    Write("a.txt", "a");
    EXPECT_TRUE(folder.RemoveFile("a.txt"));
    EXPECT_FALSE(Exists("a.txt"));
    EXPECT_TRUE(folder.RemoveFile("a.txt")) << "already gone";
}

TEST_F(SafeFilesTest, FoldersGoOnlyWhenEmpty) {
    ASSERT_TRUE(::CreateDirectoryA(Path("sub").c_str(), nullptr));
    Write("sub\\b.txt", "b");
    TSafeFolder folder(root_);
    EXPECT_FALSE(folder.RemoveEmptyFolder("sub"));
    EXPECT_TRUE(Exists("sub\\b.txt"));
    EXPECT_EQ(folder.List("sub"), std::vector<std::string>{"b.txt"});
    EXPECT_FALSE(folder.RemoveEmptyFolder("sub\\b.txt")) << "a file is not a folder";
    ASSERT_TRUE(::DeleteFileA(Path("sub\\b.txt").c_str()));
    EXPECT_TRUE(folder.RemoveEmptyFolder("sub"));
    EXPECT_TRUE(folder.RemoveEmptyFolder("sub")) << "already gone";
    EXPECT_FALSE(Exists("sub"));
}

TEST_F(SafeFilesTest, RecordMustNameItsOwnFolder) {
    EXPECT_THROW(ReadInstallationRecord(root_), EBadRecord) << "missing";
    TInstallRecord record;
    record.Destination = root_;
    record.Folders = {"."};
    Write(kRecordName, FormatInstallRecord(record));
    EXPECT_EQ(ReadInstallationRecord(root_ + "\\").Destination, root_);
    record.Destination = "C:\\Somewhere\\Else";
    Write(kRecordName, FormatInstallRecord(record));
    EXPECT_THROW(ReadInstallationRecord(root_), EBadRecord) << "another folder's record";
    Write(kRecordName, "Tandrel install record 1\r\ndestination " + root_ + "\r\nfile 1 00 ..\\x\r\n");
    EXPECT_THROW(ReadInstallationRecord(root_), EBadRecord) << "damaged";
}

// The comparison of a removal's files on a second thread: every file gets the answer that
// comparing it on the calling thread gives, in the order they were started, past the megabyte
// after which the thread takes over; and a comparison left running is waited for before the files
// go.
// A file as the record says it is, and what the comparison must answer.
struct TCase {
    std::string Name;
    int64_t Size;
    Sha256Digest Digest;
    TContents Expected;
};

TEST_F(SafeFilesTest, ComparedAheadEveryFileGetsItsOwnAnswerInOrder) {
    std::vector<TCase> cases;
    // 40 files of 100-400 KB: the first megabyte on this thread, the rest on the other. Every third
    // file changed in its last byte, every fifth recorded with another size, the others unchanged.
    for (int i = 0; i < 40; ++i) {
        std::string contents(100 * 1024 + (i * 7919) % (300 * 1024), '\0');
        for (size_t at = 0; at < contents.size(); ++at) {
            contents[at] = static_cast<char>((at * (i + 3)) >> 5);
        }
        const std::string name = "ahead" + std::to_string(i) + ".bin";
        TCase item{name, static_cast<int64_t>(contents.size()), Sha256Of(contents.data(), contents.size()),
                   TContents::Same};
        if (i % 3 == 1) {
            contents.back() ^= 1;
            item.Expected = TContents::Changed;
        } else if (i % 5 == 2) {
            item.Size += 1;
            item.Expected = TContents::Changed;
        }
        Write(name, contents);
        written_.push_back(name);
        cases.push_back(item);
    }
    TSafeFolder folder(root_);
    std::vector<std::unique_ptr<TRemovableFile>> files;
    for (const TCase& item : cases) {
        files.push_back(std::make_unique<TRemovableFile>());
        ASSERT_EQ(folder.OpenForRemoval(item.Name, *files.back()), TOpenForRemoval::Opened);
    }
    std::vector<TContents> ahead;
    {
        TCompareAhead compare;
        for (size_t i = 0; i < cases.size(); ++i) {
            compare.Start(*files[i], cases[i].Size, cases[i].Digest);
            ahead.push_back(compare.Wait());
        }
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(ahead[i], cases[i].Expected) << cases[i].Name;
        EXPECT_EQ(files[i]->Compare(cases[i].Size, cases[i].Digest), cases[i].Expected) << cases[i].Name;
    }
    // A comparison never waited for is over when the object goes: the file is then free to close.
    {
        TCompareAhead compare;
        for (size_t i = 0; i + 1 < cases.size(); ++i) {
            compare.Start(*files[i], cases[i].Size, cases[i].Digest);
            compare.Wait();
        }
        compare.Start(*files.back(), cases.back().Size, cases.back().Digest);
    }
    files.clear();
}

// What cannot be read must say so in the thread's last error: callers turn that error into their
// answer, and a success there would make an existing item look missing.
TEST(ItemFacts, AnItemThatCannotBeReadLeavesAnErrorToReport) {
    const UniqueKernelHandle event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_NE(event.get(), nullptr);
    TItemFacts facts;
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(ReadItemFacts(event.get(), facts));
    EXPECT_NE(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

}  // namespace
