#include "shell_folders.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "exceptions.h"
#include "shell_test_support.h"

namespace {

using shell_test::ScopedShellFolderValue;

std::string RegistryErrorOf(const std::string& valueName) {
    try {
        return "(returned " + GetShellFolder(valueName) + ")";
    } catch (const ERegistryException& e) {
        return e.Message();
    }
}

TEST(GetShellFolder, ReturnsTheValueAsStored) {
    ScopedShellFolderValue value("TandrelTestFolder");
    ASSERT_TRUE(value.SetString("C:\\Menu\\Programs"));
    EXPECT_EQ("C:\\Menu\\Programs", GetShellFolder("TandrelTestFolder"));

    // An expandable string is read as well, and its references are left as they are.
    ASSERT_TRUE(value.SetString("%USERPROFILE%\\Start Menu", REG_EXPAND_SZ));
    EXPECT_EQ("%USERPROFILE%\\Start Menu", GetShellFolder("TandrelTestFolder"));
}

TEST(GetShellFolder, MissingKeyIsReportedWithItsPathAndNotCreated) {
    const std::string key = "\\Software\\TandrelTest\\No Such Folders";
    try {
        shell_detail::ReadShellFolder(key, "Programs");
        FAIL() << "no exception";
    } catch (const ERegistryException& e) {
        EXPECT_EQ("Folder key \"\\Software\\TandrelTest\\No Such Folders\" not found", e.Message());
    }
    HKEY opened = nullptr;
    EXPECT_NE(ERROR_SUCCESS,
              ::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\TandrelTest", 0, KEY_READ, &opened));
    UniqueHkey guard(opened);
}

TEST(GetShellFolder, MissingOrEmptyValueIsReportedWithItsName) {
    EXPECT_EQ("\"TandrelTestMissing\" item not found in registry", RegistryErrorOf("TandrelTestMissing"));

    ScopedShellFolderValue empty("TandrelTestEmpty");
    ASSERT_TRUE(empty.SetString(""));
    EXPECT_EQ("\"TandrelTestEmpty\" item not found in registry", RegistryErrorOf("TandrelTestEmpty"));
    ASSERT_TRUE(empty.SetString("", REG_EXPAND_SZ));
    EXPECT_EQ("\"TandrelTestEmpty\" item not found in registry", RegistryErrorOf("TandrelTestEmpty"));
}

TEST(GetShellFolder, ValueOfAnotherTypeIsTheRegistryClassError) {
    ScopedShellFolderValue number("TandrelTestNumber");
    ASSERT_TRUE(number.SetDword(1));
    EXPECT_EQ("Invalid data type for 'TandrelTestNumber'", RegistryErrorOf("TandrelTestNumber"));
}

}  // namespace
