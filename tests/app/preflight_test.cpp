// The checks before the first change, on the program's own payload and on folders made for each
// test: the archive's digest, the names, links, files that cannot be replaced and the room on the
// drive, counted in clusters.
#include "app/preflight.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "../common/folder_tree.h"
#include "app/copy_form.h"
#include "archive/compress.h"
#include "archive/sha256.h"
#include "framework/file_stream.h"
#include "framework/sysutils.h"
#include "framework/unique_handle.h"

namespace {

void WriteFile(const std::string& path, size_t size, DWORD attributes = 0) {
    const UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << path;
    const std::string content(size, 'x');
    DWORD done = 0;
    ::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &done, nullptr);
    if (attributes != 0) {
        ::SetFileAttributesA(path.c_str(), attributes);
    }
}

// What raising f says, or "" when it raises nothing.
template <typename F>
std::string MessageOf(F f) {
    try {
        f();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

// The program's own archive, listed as the loop lists it.
class Preflight : public ::testing::Test {
  protected:
    void SetUp() override {
        archive_ = compress_.LoadArchiveResource("DATA", "");
        compress_.ListArchiveFiles(*archive_, entries_);
        ASSERT_EQ(entries_.Count(), 5);
        for (int i = 0; i < entries_.Count(); ++i) {
            sizes_.push_back(dynamic_cast<const TCompressedFileInfo&>(*entries_.Objects(i)).FullSize);
        }
    }
    // The clusters of every entry on a drive of clusterSize.
    int64_t PayloadClusters(int64_t clusterSize) const {
        int64_t clusters = 0;
        for (const int32_t size : sizes_) {
            clusters += ClustersFor(size, clusterSize);
        }
        return clusters;
    }
    std::string Check(const std::string& destination,
                      bool backups,
                      std::optional<TDriveSpace> space,
                      int64_t registration = 0,
                      bool ownRecord = true) {
        return MessageOf([&] {
            TSafeFolder folder(destination);
            CheckBeforeFirstChange(entries_, folder, backups, space, registration, ownRecord);
        });
    }

    TCompress compress_{nullptr};
    std::unique_ptr<TStream> archive_;
    TStringList entries_;
    std::vector<int32_t> sizes_;
    FolderTree folder_{"preflight"};
};

TEST_F(Preflight, TheArchiveMatchesTheDigestRecordedBesideIt) {
    EXPECT_NO_THROW(CheckEmbeddedArchive(*archive_));

    // One byte changed anywhere (the archive header, a file header, a name, the packed data), or
    // a byte more or less: a damaged setup file.
    const auto* start = static_cast<const uint8_t*>(dynamic_cast<TCustomMemoryStream&>(*archive_).Memory());
    const std::vector<uint8_t> bytes(start, start + archive_->Size());
    const std::string recorded = DigestToHex(Sha256Of(bytes.data(), bytes.size()));
    for (const size_t at : {size_t{9}, size_t{21 + 2}, size_t{21 + 25}, bytes.size() / 2, bytes.size() - 1}) {
        SCOPED_TRACE(at);
        std::vector<uint8_t> damaged = bytes;
        damaged[at] ^= 0x01;
        TCustomMemoryStream stream(damaged.data(), static_cast<int64_t>(damaged.size()));
        EXPECT_EQ(MessageOf([&] { CheckArchiveDigest(stream, recorded); }),
                  "The setup file is damaged. Please download it again");
    }
    TCustomMemoryStream shorter(bytes.data(), static_cast<int64_t>(bytes.size()) - 1);
    EXPECT_THROW(CheckArchiveDigest(shorter, recorded), EDamagedSetup);
    // A recorded digest that is no digest.
    TCustomMemoryStream whole(bytes.data(), static_cast<int64_t>(bytes.size()));
    EXPECT_NO_THROW(CheckArchiveDigest(whole, UpperCaseAscii(recorded)));
    for (const std::string& bad :
         {std::string(), recorded.substr(1), recorded + "0", "g" + recorded.substr(1)}) {
        EXPECT_THROW(CheckArchiveDigest(whole, bad), EDamagedSetup) << bad;
    }
}

TEST(DiskSpace, StepsFreeBeforeTheyTakeAndTheFirstThatDoesNotFitIsNamed) {
    EXPECT_EQ(ClustersFor(0, 4096), 0);
    EXPECT_EQ(ClustersFor(1, 4096), 1);
    EXPECT_EQ(ClustersFor(4096, 4096), 1);
    EXPECT_EQ(ClustersFor(4097, 4096), 2);
    EXPECT_EQ(ClustersFor(int64_t{1} << 40, 512), int64_t{1} << 31);

    const std::vector<TSpaceStep> steps = {{"C:\\a", 0, 3}, {"C:\\b", 2, 4}, {"C:\\c", 5, 5}};
    EXPECT_NO_THROW(CheckDiskSpace(steps, {4096, 5}));  // 5-3=2, +2-4=0, +5-5=0
    EXPECT_EQ(MessageOf([&] { CheckDiskSpace(steps, {4096, 4}); }), "Not enough disk space to expand C:\\b");
    EXPECT_EQ(MessageOf([&] { CheckDiskSpace(steps, {4096, 2}); }), "Not enough disk space to expand C:\\a");
    EXPECT_THROW(CheckDiskSpace(steps, {4096, 0}), EInsufficientDiskSpace);
}

// The room needed in clusters: new files and folders, and the registration's files. Nothing that a
// run replaces is deleted before the run completes (a failure puts it back), so nothing is free
// before then.
TEST_F(Preflight, TheDriveMustHoldEveryFileInWholeClusters) {
    const int64_t cluster = 4096;
    const int64_t payload = PayloadClusters(cluster);
    const std::string last = "Not enough disk space to expand ";

    // An empty destination: the files, then the uninstaller, the record and the journal.
    const std::string fresh = folder_.Folder("fresh");
    EXPECT_EQ(Check(fresh, true, TDriveSpace{cluster, payload}), "");
    EXPECT_EQ(Check(fresh, true, TDriveSpace{cluster, payload - 1}), last + fresh + "\\whatsnew.txt");
    EXPECT_EQ(Check(fresh, true, TDriveSpace{cluster, 0}), last + fresh + "\\Tandrel.exe");
    EXPECT_EQ(Check(fresh, true, TDriveSpace{cluster, payload + 2}, 2 * cluster), "");
    EXPECT_EQ(Check(fresh, true, TDriveSpace{cluster, payload + 1}, 2 * cluster),
              last + fresh + "\\Uninstall.exe");
    EXPECT_EQ(Check(fresh, true, std::nullopt), "");  // the drive cannot say: each file is checked later

    // An older installation of large files: renamed aside or moved into Backup, they stay until the
    // run has completed; with backups on the Backup folder is made too.
    const std::string older = folder_.Folder("older");
    for (int i = 0; i < entries_.Count(); ++i) {
        // (A larger site database counts with backups on: it may be kept and copied; see below.)
        const size_t more = entries_[i] == "sites.ini" ? 0 : 3 * cluster;
        WriteFile(older + "\\" + entries_[i], static_cast<size_t>(sizes_[i]) + more);
    }
    EXPECT_EQ(Check(older, false, TDriveSpace{cluster, payload}), "");
    EXPECT_EQ(Check(older, false, TDriveSpace{cluster, payload - 1}), last + older + "\\whatsnew.txt");
    EXPECT_EQ(Check(older, true, TDriveSpace{cluster, payload + 1}), "");
    EXPECT_EQ(Check(older, true, TDriveSpace{cluster, payload}), last + older + "\\whatsnew.txt");

    // An older backup of the same name is set aside, not deleted, until the run completes.
    folder_.Folder("older\\Backup");
    WriteFile(older + "\\Backup\\Tandrel.exe", static_cast<size_t>(10 * cluster));
    EXPECT_EQ(Check(older, true, TDriveSpace{cluster, payload}), "");
    EXPECT_EQ(Check(older, true, TDriveSpace{cluster, payload - 1}), last + older + "\\whatsnew.txt");

    // A site database larger than the new one may be kept: with backups on, its copy goes to Backup.
    const std::string kept = folder_.Folder("kept");
    const int sites = entries_.IndexOf("sites.ini");
    ASSERT_GE(sites, 0);
    WriteFile(kept + "\\sites.ini", static_cast<size_t>(sizes_[sites]) + 5 * cluster);
    const int64_t copy =
        ClustersFor(sizes_[sites] + 5 * cluster, cluster) - ClustersFor(sizes_[sites], cluster);
    EXPECT_EQ(Check(kept, true, TDriveSpace{cluster, payload + 1 + copy}), "");
    EXPECT_EQ(Check(kept, true, TDriveSpace{cluster, payload + copy}), last + kept + "\\whatsnew.txt");
}

TEST_F(Preflight, FilesThatCannotBeReplacedAreFoundFirst) {
    const std::string destination = folder_.Folder("dest");
    const std::string readme = destination + "\\readme.txt";
    const std::string backup = destination + "\\Backup";
    const std::string cannotMove = "Cannot move " + readme + " into the backup folder " + backup;
    WriteFile(readme, 10);

    // Held open without sharing: neither moved nor renamed, and told as a file in use (which a
    // deployment tool may try again later).
    {
        const UniqueFileHandle held(
            ::CreateFileA(readme.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(Check(destination, true, std::nullopt), cannotMove);
        EXPECT_EQ(Check(destination, false, std::nullopt).substr(0, 17 + readme.size()),
                  "Cannot open file " + readme);
        for (const bool backups : {true, false}) {
            TSafeFolder folder(destination);
            EXPECT_THROW(CheckBeforeFirstChange(entries_, folder, backups, std::nullopt, 0, true),
                         EFileInUse);
        }
    }
    // Open with every sharing (a running program's file): it can be renamed, so it can be replaced.
    {
        const UniqueFileHandle shared(::CreateFileA(readme.c_str(), GENERIC_READ,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                    nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(Check(destination, true, std::nullopt), "");
        EXPECT_EQ(Check(destination, false, std::nullopt), "");
    }
    // Read-only: moved with backups on, renamed aside without them; the new file takes its place.
    ::SetFileAttributesA(readme.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(Check(destination, true, std::nullopt), "");
    EXPECT_EQ(Check(destination, false, std::nullopt), "");
    ::SetFileAttributesA(readme.c_str(), FILE_ATTRIBUTE_NORMAL);

    // Another program's uninstaller and record, where no record of ours is: they go into Backup,
    // so without backups they stop the installation before anything changes.
    WriteFile(destination + "\\Uninstall.exe", 3);
    EXPECT_EQ(Check(destination, true, std::nullopt, 0, false), "");
    EXPECT_EQ(Check(destination, false, std::nullopt, 0, false),
              "Cannot replace " + destination +
                  "\\Uninstall.exe: it was not written by this setup, and without backups it would be lost");
    EXPECT_EQ(Check(destination, false, std::nullopt, 0, true), "");  // ours: replaced
    ::DeleteFileA((destination + "\\Uninstall.exe").c_str());

    // In Backup, a folder of the file's name, or a file held open there, stops the move; so does a
    // file standing where the Backup folder goes.
    folder_.Folder("dest\\Backup");
    folder_.Folder("dest\\Backup\\readme.txt");
    EXPECT_EQ(Check(destination, true, std::nullopt), cannotMove);
    EXPECT_EQ(Check(destination, false, std::nullopt), "");
    ::RemoveDirectoryA((backup + "\\readme.txt").c_str());
    WriteFile(backup + "\\readme.txt", 5);
    {
        const UniqueFileHandle held(::CreateFileA((backup + "\\readme.txt").c_str(), GENERIC_READ, 0, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(Check(destination, true, std::nullopt), cannotMove);
    }
    EXPECT_EQ(Check(destination, true, std::nullopt), "");
    ::DeleteFileA((backup + "\\readme.txt").c_str());
    ::RemoveDirectoryA(backup.c_str());
    WriteFile(backup, 1);
    EXPECT_EQ(Check(destination, true, std::nullopt), cannotMove);
    ::DeleteFileA(backup.c_str());

    // A folder where a file goes: the file cannot be created.
    folder_.Folder("dest\\whatsnew.txt");
    EXPECT_EQ(Check(destination, true, std::nullopt), "Cannot create file " + destination + "\\whatsnew.txt");
    // The first entry with a problem is the one named, as the loop would meet them.
    EXPECT_EQ(Check(destination, true, TDriveSpace{4096, 0}),
              "Not enough disk space to expand " + destination + "\\Tandrel.exe");
}

TEST_F(Preflight, NamesStayInsideTheDestinationAndFoldersAreNoLinks) {
    const std::string destination = folder_.Folder("dest");
    for (const char* name : {"..\\evil.txt", "sub\\..\\..\\evil.txt", "\\evil.txt", "C:evil.txt", "a/b.txt",
                             "", "sub\\", ".\\a.txt", "file.txt:stream"}) {
        TStringList list;
        list.Add("readme.txt");
        list.Add(name);
        EXPECT_EQ(MessageOf([&] {
                      TSafeFolder folder(destination);
                      CheckBeforeFirstChange(list, folder, true, std::nullopt, 0, true);
                  }),
                  std::string("The setup file names a file outside the destination: ") + name);
    }
    TStringList nested;
    nested.Add("sub\\deeper\\a.txt");
    WriteFile(destination + "\\sub", 1);
    EXPECT_EQ(MessageOf([&] {
                  TSafeFolder folder(destination);
                  CheckBeforeFirstChange(nested, folder, true, std::nullopt, 0, true);
              }).substr(0, 21 + destination.size() + 4),
              "Cannot create folder " + destination + "\\sub");

    // A Backup folder that is a link to another folder: the replaced files would be written there.
    const std::string elsewhere = folder_.Folder("elsewhere");
    WriteFile(destination + "\\readme.txt", 1);
    if (!::CreateSymbolicLinkA((destination + "\\Backup").c_str(), elsewhere.c_str(),
                               SYMBOLIC_LINK_FLAG_DIRECTORY)) {
        GTEST_SKIP() << "no symbolic links here (error " << ::GetLastError()
                     << "); the script test covers it";
    }
    WIN32_FIND_DATAA found{};
    const UniqueFindHandle search(::FindFirstFileA((destination + "\\Backup").c_str(), &found));
    if (!search) {
        GTEST_SKIP() << "CreateSymbolicLinkA made no link here; the script test covers it";
    }
    ASSERT_NE(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "a link that is no reparse point";
    EXPECT_EQ(Check(destination, true, std::nullopt),
              "Cannot write through the link " + destination + "\\Backup");
    EXPECT_EQ(Check(destination, false, std::nullopt), "");  // nothing is written there
    ::RemoveDirectoryA((destination + "\\Backup").c_str());
}

}  // namespace
