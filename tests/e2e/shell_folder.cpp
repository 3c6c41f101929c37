// Prints a shell folder of the running user as the programs under test see it, for scripts that
// check what those programs wrote there:
//     shell_folder NAME        NAME is Programs or SendTo; prints the folder's full path in UTF-8
// It asks the shell, as the setup does, instead of reading the registry's files on disk, which the
// Wine server writes out only when it pleases. Exit code 1 when the shell has no such folder, 2 on
// a wrong command line.
#include <windows.h>

#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    int folder = -1;
    if (argc == 2 && std::strcmp(argv[1], "Programs") == 0) {
        folder = CSIDL_PROGRAMS;
    } else if (argc == 2 && std::strcmp(argv[1], "SendTo") == 0) {
        folder = CSIDL_SENDTO;
    } else {
        std::fprintf(stderr, "usage: shell_folder Programs|SendTo\n");
        return 2;
    }
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, folder | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path))) {
        return 1;
    }
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) {
        return 1;
    }
    std::string text(static_cast<size_t>(bytes - 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, path, -1, text.data(), bytes, nullptr, nullptr);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}
