#include "framework/registry.h"

#include <vector>

#include "framework/exceptions.h"
#include "framework/sysutils.h"

namespace {

std::string WithoutLeadingBackslash(const std::string& key) {
    return !key.empty() && key[0] == '\\' ? key.substr(1) : key;
}

}  // namespace

void TRegistry::SetRootKey(HKEY root) {
    CloseKey();
    rootKey_ = root;
}

bool TRegistry::Open(const std::string& key, REGSAM access, bool canCreate) {
    const std::string path = WithoutLeadingBackslash(key);
    HKEY opened = nullptr;
    LONG status = ::RegOpenKeyExA(rootKey_, path.c_str(), 0, access, &opened);
    if (status != ERROR_SUCCESS && canCreate) {
        status = ::RegCreateKeyExA(rootKey_, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                   nullptr, &opened, nullptr);
    }
    if (status != ERROR_SUCCESS) {
        return false;
    }
    key_.reset(opened);
    return true;
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
    return Open(key, KEY_ALL_ACCESS, canCreate);
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
    return Open(key, KEY_READ, false);
}

bool TRegistry::ValueExists(const std::string& name) const {
    return key_ &&
           ::RegQueryValueExA(key_.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::string TRegistry::ReadString(const std::string& name) const {
    DWORD type = 0;
    DWORD size = 0;
    if (!key_ ||
        ::RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        size == 0) {
        return {};
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        throw ERegistryException(Format(msg::kInvalidRegType, name.c_str()));
    }
    std::vector<char> data(size + 1, '\0');
    DWORD got = size;
    if (::RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                           &got) != ERROR_SUCCESS) {
        return {};
    }
    data[got < data.size() ? got : data.size() - 1] = '\0';
    return std::string(data.data());  // stops at the stored terminator
}

int32_t TRegistry::ReadInteger(const std::string& name) const {
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (!key_ ||
        ::RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                           &size) != ERROR_SUCCESS ||
        type != REG_DWORD) {
        throw ERegistryException(Format(msg::kInvalidRegType, name.c_str()));
    }
    return static_cast<int32_t>(value);
}
