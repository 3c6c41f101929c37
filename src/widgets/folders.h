// The two folder operations of the setup program: a test that a folder is there and a
// one-level folder creation. Paths go to the operating system unchanged.
#pragma once

#include <string>

// True exactly when the path's attributes can be read and name a directory. A trailing "\" stays
// ("c:\" is the root of drive c); an empty or missing path, a file, or a drive whose medium cannot
// be read gives false.
bool FolderExists(const std::string& path);

// Creates the last component of the path as a directory with default security. False when the
// parent is missing, the path exists already, or on any other failure; never creates ancestors.
bool CreateFolder(const std::string& path);
