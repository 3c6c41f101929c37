// The installation record: what is written reads back the same, anything of another shape is
// refused whole (the uninstaller must never be talked into deleting a name the setup did not
// write), and a second installation's record merges with the first.
#include "lifecycle/install_record.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <tuple>

namespace {

const std::string kDigestHex = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

TRecordedFile File(const std::string& name, int32_t size, uint8_t digestByte = 0) {
    TRecordedFile file;
    file.Name = name;
    file.Size = size;
    file.Digest.fill(digestByte);
    return file;
}

TInstallRecord Sample() {
    TInstallRecord record;
    record.Destination = "C:\\Program Files\\Tandrel";
    record.Folders = {".", "sub", "sub\\deeper"};
    record.Files = {File("Tandrel.exe", 717575, 1), File("sub\\deeper\\notes 2.txt", 0, 2)};
    record.Kept = {"sites.ini"};
    record.Shortcuts = {"C:\\users\\me\\Start Menu\\Programs\\Tandrel.lnk",
                        "D:\\Profiles\\me\\SendTo\\Tandrel.lnk"};
    record.Parents = {"C:\\Program Files"};
    record.ParentIds = {0};
    return record;
}

void ExpectSame(const TInstallRecord& a, const TInstallRecord& b) {
    EXPECT_EQ(a.Destination, b.Destination);
    EXPECT_EQ(a.Folders, b.Folders);
    ASSERT_EQ(a.Files.size(), b.Files.size());
    for (size_t i = 0; i < a.Files.size(); ++i) {
        EXPECT_EQ(a.Files[i].Name, b.Files[i].Name);
        EXPECT_EQ(a.Files[i].Size, b.Files[i].Size);
        EXPECT_EQ(a.Files[i].Digest, b.Files[i].Digest);
    }
    EXPECT_EQ(a.Kept, b.Kept);
    EXPECT_EQ(a.Shortcuts, b.Shortcuts);
    EXPECT_EQ(a.Parents, b.Parents);
    EXPECT_EQ(a.ParentIds, b.ParentIds);
    EXPECT_EQ(a.DestinationId, b.DestinationId);
    EXPECT_EQ(a.Backups, b.Backups);
}

std::string Record(const std::string& body) {
    return std::string(kRecordHeading) + "\r\ndestination C:\\Tandrel\r\n" + body;
}

TEST(InstallRecord, WrittenTextReadsBackTheSame) {
    const std::string text = FormatInstallRecord(Sample());
    EXPECT_EQ(text.substr(0, text.find("\r\n")), kRecordHeading);
    EXPECT_NE(text.find("\r\nfile 717575 " + std::string("") +
                        "0101010101010101010101010101010101010101010101010101010101010101 Tandrel.exe\r\n"),
              std::string::npos);
    ExpectSame(ParseInstallRecord(text), Sample());
    // Bare line feeds and a record without a last line end read the same.
    std::string unix = text;
    for (size_t at = unix.find('\r'); at != std::string::npos; at = unix.find('\r')) {
        unix.erase(at, 1);
    }
    unix.pop_back();
    ExpectSame(ParseInstallRecord(unix), Sample());
}

TEST(InstallRecord, ReadsTheDocumentedLines) {
    const TInstallRecord record =
        ParseInstallRecord(Record("folder .\nfile 12 " + kDigestHex + " a b.txt\nkept SITES.INI\n"));
    EXPECT_EQ(record.Destination, "C:\\Tandrel");
    EXPECT_EQ(record.Folders, std::vector<std::string>{"."});
    ASSERT_EQ(record.Files.size(), 1u);
    EXPECT_EQ(record.Files[0].Name, "a b.txt");  // the name is the rest of the line, blanks and all
    EXPECT_EQ(record.Files[0].Size, 12);
    EXPECT_EQ(DigestToHex(record.Files[0].Digest), kDigestHex);
    EXPECT_EQ(record.Kept, std::vector<std::string>{"SITES.INI"});
}

TEST(InstallRecord, RefusesNamesOutsideTheDestination) {
    for (const char* name : {"..\\evil.txt",
                             "sub\\..\\..\\evil.txt",
                             "C:\\Windows\\evil.txt",
                             "C:evil.txt",
                             "\\evil.txt",
                             "\\\\server\\share\\evil.txt",
                             "sub/../../evil.txt",
                             "Tandrel.exe:stream",
                             "Tandrel.exe::$DATA",
                             ".",
                             "..",
                             "sub\\.",
                             "sub\\\\x",
                             "sub\\",
                             "evil.txt.",
                             "evil.txt ",
                             "a*b",
                             "a?b",
                             "a\tb",
                             "a\x7f",
                             "a|b",
                             ""}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(IsSafeRelativeName(name));
        EXPECT_THROW(ParseInstallRecord(Record("file 1 " + kDigestHex + " " + name + "\n")), EBadRecord);
        EXPECT_THROW(ParseInstallRecord(Record(std::string("kept ") + name + "\n")), EBadRecord);
        if (std::string(name) != ".") {
            EXPECT_THROW(ParseInstallRecord(Record(std::string("folder ") + name + "\n")), EBadRecord);
        }
    }
    EXPECT_FALSE(IsSafeRelativeName(std::string(260, 'a')));
    EXPECT_TRUE(IsSafeRelativeName(std::string(259, 'a')));
}

TEST(InstallRecord, RefusesEveryOtherShape) {
    const std::string file = "file 5 " + kDigestHex + " a.txt\n";
    const std::string cases[] = {
        "",                                                 // nothing at all
        "Tandrel install record 2\ndestination C:\\T\n",    // another version
        "tandrel install record 1\ndestination C:\\T\n",    // the heading exactly
        std::string(kRecordHeading) + "\n",                 // no destination
        std::string(kRecordHeading) + "\nfolder .\n",       // something else first
        std::string(kRecordHeading) + "\ndestination T\n",  // relative destination
        std::string(kRecordHeading) + "\ndestination C:\\a\\..\\Windows\n",
        std::string(kRecordHeading) + "\ndestination \\\\?\\C:\\T\n",  // a raw path
        Record("destination C:\\Other\n"),                             // a second destination
        Record(file + file),                                           // a file twice
        Record(file + "kept A.TXT\n"),                                 // written and kept
        Record("folder sub\nfolder SUB\n"),                            // a folder twice
        Record("file -5 " + kDigestHex + " a.txt\n"),                  // negative size
        Record("file 2147483648 " + kDigestHex + " a.txt\n"),          // beyond 32 bits
        Record("file 05 " + kDigestHex + " a.txt\n"),                  // not the written form
        Record("file 5 " + kDigestHex.substr(1) + " a.txt\n"),         // short digest
        Record("file 5 " + kDigestHex + "\n"),                         // no name
        Record("file 5  " + kDigestHex + " a.txt\n"),                  // two blanks
        Record("shortcut C:\\Start Menu\\Tandrel.exe\n"),              // not a shortcut file
        Record("shortcut Tandrel.lnk\n"),                              // not absolute
        // Only Tandrel.lnk right inside a local Programs or SendTo folder: a network path would
        // make an elevated removal connect as the administrator, a device path reach anything.
        Record("shortcut \\\\host\\share\\Programs\\Tandrel.lnk\n"),
        Record("shortcut \\\\?\\C:\\Programs\\Tandrel.lnk\n"),
        Record("shortcut \\\\.\\C:\\SendTo\\Tandrel.lnk\n"),
        Record("shortcut C:\\Users\\me\\Desktop\\Tandrel.lnk\n"),      // another folder
        Record("shortcut C:\\Users\\me\\SendTo\\victim.lnk\n"),        // another name
        Record("shortcut C:\\Users\\me\\SendTo\\sub\\Tandrel.lnk\n"),  // deeper
        // Folders above the destination: absolute, and the destination inside them.
        Record("parent C:\\Other\n"), Record("parent C:\\\n"),
        Record("parent C:\\Program Files\\Tandrel\n"),  // the destination itself
        Record("parent C:\\Program\n"),                 // a prefix, not a folder above
        Record("remove C:\\Windows\n"),                 // unknown line
        Record("\n"),                                   // empty line
        Record("FILE 5 " + kDigestHex + " a.txt\n"),    // keywords exactly
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        EXPECT_THROW(ParseInstallRecord(text), EBadRecord);
    }
    EXPECT_THROW(ParseInstallRecord(Record(std::string(1 << 20, 'x'))), EBadRecord);
    std::string many = Record("");
    for (int i = 0; i < 10000; ++i) {
        many += "folder f" + std::to_string(i) + "\n";
    }
    EXPECT_THROW(ParseInstallRecord(many), EBadRecord);
}

TEST(InstallRecord, AFaultyRecordIsNeverWritten) {
    TInstallRecord record = Sample();
    record.Files.push_back(File("..\\evil.txt", 1));
    EXPECT_THROW(FormatInstallRecord(record), EBadRecord);
    record = Sample();
    record.Kept.push_back("TANDREL.EXE");  // both written and kept
    EXPECT_THROW(FormatInstallRecord(record), EBadRecord);
    record = Sample();
    record.Destination = "C:\\Program Files\\Tandrel\r\nfile 1 " + kDigestHex + " x";
    EXPECT_THROW(FormatInstallRecord(record), EBadRecord);
}

TEST(InstallRecord, SecondInstallationMerges) {
    TInstallRecord first;
    first.Destination = "C:\\Tandrel";
    first.Folders = {"."};
    first.Files = {File("Tandrel.exe", 10, 1), File("sites.ini", 20, 2), File("old.txt", 30, 3)};
    first.Shortcuts = {"C:\\P\\Programs\\Tandrel.lnk"};

    TInstallRecord second;
    second.Destination = "c:\\TANDREL";
    second.Folders = {"Backup", "."};
    second.Files = {File("tandrel.exe", 11, 4)};
    second.Kept = {"SITES.INI"};
    second.Shortcuts = {"c:\\p\\programs\\tandrel.lnk", "C:\\S\\SendTo\\Tandrel.lnk"};

    const TInstallRecord merged = MergeInstallRecords(first, second);
    EXPECT_EQ(merged.Destination, "c:\\TANDREL");
    EXPECT_EQ(merged.Folders, (std::vector<std::string>{".", "Backup"}));
    ASSERT_EQ(merged.Files.size(), 3u);
    EXPECT_EQ(merged.Files[0].Name, "sites.ini");  // kept this time, but the first run's file
    EXPECT_EQ(merged.Files[1].Name, "old.txt");    // untouched by the second run: still the first's
    EXPECT_EQ(merged.Files[2].Name, "tandrel.exe");
    EXPECT_EQ(merged.Files[2].Size, 11);  // written again: the newer contents
    EXPECT_TRUE(merged.Kept.empty());
    EXPECT_EQ(merged.Shortcuts,
              (std::vector<std::string>{"C:\\P\\Programs\\Tandrel.lnk", "C:\\S\\SendTo\\Tandrel.lnk"}));
    ExpectSame(ParseInstallRecord(FormatInstallRecord(merged)), merged);

    // A file that was there before the first run and kept by both stays the user's.
    TInstallRecord userFile = second;
    userFile.Files.clear();
    userFile.Kept = {"user.ini"};
    const TInstallRecord kept = MergeInstallRecords(userFile, second);
    EXPECT_EQ(kept.Kept, (std::vector<std::string>{"user.ini", "SITES.INI"}));

    // A kept file that a later run writes again is the setup's again.
    const TInstallRecord third = MergeInstallRecords(kept, first);
    EXPECT_EQ(third.Kept, std::vector<std::string>{"user.ini"});
    EXPECT_EQ(third.Files.size(), 3u);

    // Another folder: the newer record alone.
    TInstallRecord elsewhere = second;
    elsewhere.Destination = "D:\\Tandrel";
    ExpectSame(MergeInstallRecords(first, elsewhere), elsewhere);
}

// The folders made before the destination could hold a journal carry their identity; records
// written before, without identities, read as they did, their folders with none.
TEST(InstallRecord, FoldersMadeCarryTheirIdentity) {
    TInstallRecord record = Sample();
    record.Destination = "C:\\Apps\\Sub\\Tandrel";
    record.Parents = {"C:\\Apps", "C:\\Apps\\Sub"};
    record.ParentIds = {42, 18446744073709551615u};
    record.DestinationId = 43;
    const std::string text = FormatInstallRecord(record);
    EXPECT_NE(text.find("\r\nfolder 43 .\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nparent 42 C:\\Apps\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nparent 18446744073709551615 C:\\Apps\\Sub\r\n"), std::string::npos) << text;
    ExpectSame(ParseInstallRecord(text), record);

    const TInstallRecord old =
        ParseInstallRecord(Record("folder .\r\nfolder 42 Backup\r\nparent C:\\Apps\r\n")
                               .replace(Record("").find("C:\\Tandrel"), 10, "C:\\Apps\\Tandrel"));
    EXPECT_EQ(old.Folders, (std::vector<std::string>{".", "42 Backup"}));
    EXPECT_EQ(old.DestinationId, 0u);
    EXPECT_EQ(old.Parents, std::vector<std::string>{"C:\\Apps"});
    EXPECT_EQ(old.ParentIds, std::vector<uint64_t>{0});
    for (const char* line : {"folder 0 .", "folder 012 .", "folder 99999999999999999999 .", "folder 4 4 .",
                             "parent 0 C:\\Tandrel\\x", "parent 12 C:\\Other", "folder 12 Backup."}) {
        EXPECT_THROW(ParseInstallRecord(Record(std::string(line) + "\r\n")), EBadRecord) << line;
    }

    // Whether installations put files into Backup, carried from record to record: yes once any
    // did, no while every one said so, unknown while one did not say.
    for (const auto& [older, newer, merged] :
         std::vector<std::tuple<std::optional<bool>, std::optional<bool>, std::optional<bool>>>{
             {true, false, true},
             {false, true, true},
             {std::nullopt, true, true},
             {false, false, false},
             {std::nullopt, false, std::nullopt}}) {
        TInstallRecord a = record;
        TInstallRecord b = record;
        a.Backups = older;
        b.Backups = newer;
        EXPECT_EQ(MergeInstallRecords(a, b).Backups, merged);
        EXPECT_EQ(ParseInstallRecord(FormatInstallRecord(b)).Backups, newer);
    }
    for (const char* line : {"backups", "backups maybe", "backups yes\r\nbackups no"}) {
        EXPECT_THROW(ParseInstallRecord(Record(std::string(line) + "\r\n")), EBadRecord) << line;
    }

    // Merged, each folder keeps the identity that the run which made it recorded.
    TInstallRecord second = record;
    second.ParentIds = {7, 8};
    second.DestinationId = 9;
    second.Parents.push_back("C:\\Apps\\Sub\\Tandrel\\x");
    second.ParentIds.push_back(10);
    const TInstallRecord merged = MergeInstallRecords(record, second);
    EXPECT_EQ(merged.ParentIds, (std::vector<uint64_t>{42, 18446744073709551615u, 10}));
    EXPECT_EQ(merged.DestinationId, 43u);
    TInstallRecord older = Sample();
    older.Destination = record.Destination;
    older.Parents = {"C:\\Apps"};
    older.ParentIds.clear();
    EXPECT_EQ(MergeInstallRecords(older, second).ParentIds, (std::vector<uint64_t>{0, 8, 10}));
}

}  // namespace
