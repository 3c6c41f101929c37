#include "shell/shell_folders.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "../common/exception_message.h"
#include "framework/exceptions.h"
#include "shell_test_support.h"

namespace {

using shell_test::ScopedShellFolderValue;

std::string RegistryErrorOf(const std::string& valueName) {
    return MessageOf<ERegistryException>([&] { GetShellFolder(valueName); });
}

// Either kind of string is read as stored (the references of an expandable one are left as they
// are), and an empty one of either kind counts as missing.
TEST(GetShellFolder, ReturnsStringsOfEitherKindAsStored) {
    ScopedShellFolderValue value("TandrelTestFolder");
    for (const DWORD type : {REG_SZ, REG_EXPAND_SZ}) {
        for (const char* data : {"C:\\Menu\\Programs", "%USERPROFILE%\\Start Menu"}) {
            ASSERT_TRUE(value.SetString(data, type));
            EXPECT_EQ(data, GetShellFolder("TandrelTestFolder")) << "type " << type;
        }
        ASSERT_TRUE(value.SetString("", type));
        EXPECT_EQ("\"TandrelTestFolder\" item not found in registry", RegistryErrorOf("TandrelTestFolder"))
            << "type " << type;
    }
}

TEST(GetShellFolder, MissingKeyIsReportedWithItsPathAndNotCreated) {
    const std::string key = "\\Software\\TandrelTest\\No Such Folders";
    EXPECT_EQ("Folder key \"\\Software\\TandrelTest\\No Such Folders\" not found",
              MessageOf<ERegistryException>([&] { shell_detail::ReadShellFolder(key, "Programs"); }));
    HKEY opened = nullptr;
    EXPECT_NE(ERROR_SUCCESS,
              ::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\TandrelTest", 0, KEY_READ, &opened));
    UniqueHkey guard(opened);
}

TEST(GetShellFolder, MissingValueIsReportedWithItsName) {
    EXPECT_EQ("\"TandrelTestMissing\" item not found in registry", RegistryErrorOf("TandrelTestMissing"));
}

TEST(GetShellFolder, ValueOfAnotherTypeIsTheRegistryClassError) {
    ScopedShellFolderValue number("TandrelTestNumber");
    ASSERT_TRUE(number.SetDword(1));
    EXPECT_EQ("Invalid data type for 'TandrelTestNumber'", RegistryErrorOf("TandrelTestNumber"));
}

}  // namespace
