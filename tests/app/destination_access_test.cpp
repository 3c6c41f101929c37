// The write check of an interactive run's destination: tried in the folder or the nearest one above
// it, leaving nothing behind, and refusing with the folder and the system's reason.
#include "app/destination_access.h"

#include <windows.h>

#include <algorithm>
#include <gtest/gtest.h>
#include <string>

#include "../common/folder_tree.h"

namespace {

// The names in folder, "." and ".." left out.
std::string Listing(const std::string& folder) {
    std::string names;
    WIN32_FIND_DATAA data{};
    const HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return "<none>";
    }
    do {
        const std::string name = data.cFileName;
        if (name != "." && name != "..") {
            names += name + ";";
        }
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
    return names;
}

TEST(DestinationAccess, AWritableFolderOrItsMissingChildrenPassAndNothingStays) {
    const FolderTree tree("dest-access");
    tree.Folder("App");
    for (const std::string& folder : {tree.Path("App"), tree.Path("App") + "\\", tree.Path("Missing"),
                                      tree.Path("Missing\\Deeper\\App")}) {
        EXPECT_EQ(DestinationWriteProblem(folder), std::nullopt) << folder;
    }
    EXPECT_EQ(Listing(tree.root()), "App;");
    EXPECT_EQ(Listing(tree.Path("App")), "");
}

// The length that the limit is held against: the full path, a trailing "\" not counted but a root's.
TEST(DestinationAccess, TheFullFolderLength) {
    EXPECT_EQ(FullFolderLength("C:\\"), 3u);
    EXPECT_EQ(FullFolderLength("C:\\Apps\\"), 7u);
    EXPECT_EQ(FullFolderLength("C:\\Apps\\Tandrel"), 15u);
    char current[MAX_PATH] = {};
    const DWORD length = ::GetCurrentDirectoryA(MAX_PATH, current);
    EXPECT_EQ(FullFolderLength(""), length > 3 && current[length - 1] == '\\' ? length - 1 : length);
    EXPECT_EQ(FullFolderLength("Tandrel"), FullFolderLength("") + (length > 3 ? 8u : 7u));
}

// Z: is the root of the Unix file system under Wine, which the unprivileged account the tests run
// as cannot write: the folder itself, and a missing folder whose nearest existing one is the root.
TEST(DestinationAccess, AFolderThisAccountCannotWriteIsRefusedByName) {
    for (const std::string folder : {"Z:\\", "Z:\\tandrel-no-such-folder\\App"}) {
        const std::optional<std::string> problem = DestinationWriteProblem(folder);
        ASSERT_TRUE(problem.has_value()) << folder;
        EXPECT_EQ(problem->rfind("You cannot install into " + folder + " with this account (", 0), 0u)
            << *problem;
        const std::string tail = "). Choose a folder of your own, or start the setup as an administrator";
        EXPECT_EQ(problem->substr(problem->size() - std::min(problem->size(), tail.size())), tail)
            << *problem;
    }
}

}  // namespace
