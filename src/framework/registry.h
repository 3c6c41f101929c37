// Read access to the registry, one open key at a time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "framework/unique_handle.h"

class TRegistry {
  public:
    TRegistry() = default;  // root key HKEY_CURRENT_USER, no key open
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    HKEY RootKey() const { return rootKey_; }
    void SetRootKey(HKEY root);  // closes the open key

    // Opens key (a leading "\" is dropped: keys are always taken under the root) for full access,
    // as the callers of this class have always asked for; with canCreate a missing key is created.
    // Returns false when the key cannot be opened.
    bool OpenKey(const std::string& key, bool canCreate);
    bool OpenKeyReadOnly(const std::string& key);
    void CloseKey() { key_.reset(); }
    HKEY CurrentKey() const { return key_.get(); }

    bool ValueExists(const std::string& name) const;
    // A missing (or empty) value reads as the empty text; a value that is neither a string nor an
    // expandable string raises ERegistryException "Invalid data type for '<name>'". Environment
    // references are not expanded.
    std::string ReadString(const std::string& name) const;
    // A missing value or one that is not a 32-bit number raises ERegistryException.
    int32_t ReadInteger(const std::string& name) const;

  private:
    bool Open(const std::string& key, REGSAM access, bool canCreate);

    HKEY rootKey_ = HKEY_CURRENT_USER;
    UniqueHkey key_;
};
