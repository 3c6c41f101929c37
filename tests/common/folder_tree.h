// A folder made for one test under the temporary folder (its name starts with the prefix given),
// removed with everything in it afterwards, read-only files included. Shared by the Windows tests.
#pragma once

#include <windows.h>

#include <string>

#include "framework/unique_handle.h"

class FolderTree {
  public:
    explicit FolderTree(const std::string& prefix = "pickers") {
        char temp[MAX_PATH + 1] = {};
        ::GetTempPathA(sizeof temp, temp);
        char longTemp[MAX_PATH + 1] = {};
        if (::GetLongPathNameA(temp, longTemp, sizeof longTemp) == 0) {
            ::lstrcpynA(longTemp, temp, sizeof longTemp);
        }
        root_ = std::string(longTemp) + prefix + "-" + std::to_string(::GetCurrentProcessId()) + "-" +
                std::to_string(counter_++);
        ::CreateDirectoryA(root_.c_str(), nullptr);
    }
    FolderTree(const FolderTree&) = delete;
    FolderTree& operator=(const FolderTree&) = delete;
    ~FolderTree() { RemoveAll(root_); }

    const std::string& root() const { return root_; }
    std::string Path(const std::string& relative) const { return root_ + "\\" + relative; }

    // Makes a folder (its parent must exist) with the given attributes besides the directory one.
    std::string Folder(const std::string& relative, DWORD attributes = 0) const {
        const std::string path = Path(relative);
        ::CreateDirectoryA(path.c_str(), nullptr);
        if (attributes != 0) {
            ::SetFileAttributesA(path.c_str(), attributes);
        }
        return path;
    }
    std::string File(const std::string& relative) const {
        const std::string path = Path(relative);
        const UniqueFileHandle file(
            ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        return path;
    }

  private:
    static void RemoveAll(const std::string& path) {
        WIN32_FIND_DATAA entry{};
        const UniqueFindHandle search(::FindFirstFileA((path + "\\*").c_str(), &entry));
        if (search) {
            do {
                const std::string name = entry.cFileName;
                if (name == "." || name == "..") {
                    continue;
                }
                const std::string child = path + "\\" + name;
                ::SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveAll(child);
                } else {
                    ::DeleteFileA(child.c_str());
                }
            } while (::FindNextFileA(search.get(), &entry));
        }
        ::RemoveDirectoryA(path.c_str());
    }

    static inline int counter_ = 0;
    std::string root_;
};
