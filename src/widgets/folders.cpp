#include "widgets/folders.h"

#include <windows.h>

#include "framework/file_stream.h"

bool FolderExists(const std::string& path) {
    return DirectoryExists(path);
}

bool CreateFolder(const std::string& path) {
    return ::CreateDirectoryA(path.c_str(), nullptr) != 0;
}
