// The file stream on real files: modes, sharing and the errors of each.
#include "framework/file_stream.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "../common/folder_tree.h"
#include "framework/exceptions.h"

namespace {

void WriteText(const std::string& path, const std::string& text) {
    TFileStream(path, fmCreate).WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

TEST(FileStream, CreateWritesReadsSeeksAndTruncates) {
    FolderTree temp("tandrel-fs");
    const std::string path = temp.Path("f.bin");
    {
        TFileStream file(path, fmCreate);
        file.WriteBuffer("abcdefgh", 8);
        EXPECT_EQ(file.Size(), 8);
        EXPECT_EQ(file.Seek(-3, SeekOrigin::End), 5);
        char tail[4] = {};
        EXPECT_EQ(file.Read(tail, 4), 3);
        EXPECT_STREQ(tail, "fgh");
        EXPECT_EQ(file.Read(tail, 4), 0);
        EXPECT_THROW(file.Seek(-1, SeekOrigin::Beginning), EStreamError);
    }
    {
        TFileStream reader(path, fmOpenRead | fmShareDenyWrite);
        EXPECT_EQ(reader.Write("x", 1), 0);  // opened for reading only
        EXPECT_EQ(reader.Size(), 8);
    }
    { TFileStream again(path, fmCreate); }
    EXPECT_EQ(TFileStream(path, fmOpenRead | fmShareDenyNone).Size(), 0);
}

TEST(FileStream, FailuresNameTheFileAndKeepTheSystemsCode) {
    FolderTree temp("tandrel-fs");
    const std::string missing = temp.Path("missing.txt");
    try {
        TFileStream file(missing, fmOpenReadWrite | fmShareDenyWrite);
        ADD_FAILURE() << "opened a missing file";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(e.Message().rfind("Cannot open file " + missing + " (", 0), 0u) << e.Message();
    }

    const std::string readOnly = temp.Path("ro.txt");
    WriteText(readOnly, "ro");
    ::SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    try {
        TFileStream file(readOnly, fmCreate);
        ADD_FAILURE() << "created over a read-only file";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + readOnly);
    }
    EXPECT_THROW(TFileStream(readOnly, fmOpenReadWrite | fmShareDenyWrite), EInOutError);
    TFileStream reader(readOnly, fmOpenRead | fmShareDenyNone);
    EXPECT_EQ(reader.Size(), 2);
}

TEST(FileStream, SharingModesDenyWhatTheySay) {
    FolderTree temp("tandrel-fs");
    const std::string path = temp.Path("shared.txt");
    WriteText(path, "shared");
    {
        TFileStream denyWrite(path, fmOpenReadWrite | fmShareDenyWrite);
        TFileStream secondReader(path, fmOpenRead | fmShareDenyNone);  // reading is shared
        EXPECT_THROW(TFileStream(path, fmOpenWrite | fmShareDenyNone), EInOutError);
    }
    {
        TFileStream exclusive(path, fmOpenRead | fmShareExclusive);
        try {
            TFileStream other(path, fmOpenRead | fmShareDenyNone);
            ADD_FAILURE() << "opened an exclusively held file";
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.ErrorCode(), static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
        }
    }
}

}  // namespace
