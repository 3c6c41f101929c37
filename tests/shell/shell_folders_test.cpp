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
    EXPECT_EQ("Folder key \"\\Software\\TandrelTest\\No Such Folders\" not found",
              MessageOf<ERegistryException>([&] { shell_detail::ReadShellFolder(key, "Programs"); }));
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
