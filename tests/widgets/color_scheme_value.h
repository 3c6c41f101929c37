// One value of the user's colour scheme (HKCU\Control Panel\Colors), changed for the length of a
// test and put back afterwards.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>
#include <string>

#include "framework/unique_handle.h"

class ColorSchemeValue {
  public:
    explicit ColorSchemeValue(const char* name) : name_(name) {
        HKEY key = nullptr;
        EXPECT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Colors", 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        key_.reset(key);
        DWORD size = sizeof saved_;
        hadValue_ =
            ::RegQueryValueExA(key_.get(), name_, nullptr, &savedType_, saved_, &size) == ERROR_SUCCESS;
        savedSize_ = size;
    }
    ~ColorSchemeValue() {
        if (hadValue_) {
            ::RegSetValueExA(key_.get(), name_, 0, savedType_, saved_, savedSize_);
        } else {
            ::RegDeleteValueA(key_.get(), name_);
        }
    }
    void SetText(const std::string& text) {
        ::RegSetValueExA(key_.get(), name_, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>(text.size() + 1));
    }
    void SetNumber(DWORD value) {
        ::RegSetValueExA(key_.get(), name_, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                         sizeof value);
    }
    void Delete() { ::RegDeleteValueA(key_.get(), name_); }

  private:
    const char* name_;
    UniqueHkey key_;
    bool hadValue_ = false;
    DWORD savedType_ = 0;
    BYTE saved_[512] = {};
    DWORD savedSize_ = 0;
};
