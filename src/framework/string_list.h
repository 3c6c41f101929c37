// A list of text lines, each with an optional object. The list owns the objects attached to its
// lines: whoever owns the list owns them, and they go when their line is deleted or the list is
// cleared or destroyed.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/object.h"

class TStringList {
  public:
    int Count() const { return static_cast<int>(items_.size()); }
    const std::string& operator[](int index) const { return items_.at(static_cast<size_t>(index)).text; }
    const std::string& Strings(int index) const { return (*this)[index]; }
    TObject* Objects(int index) const { return items_.at(static_cast<size_t>(index)).object.get(); }

    int Add(std::string text) { return AddObject(std::move(text), nullptr); }
    int AddObject(std::string text, std::unique_ptr<TObject> object);
    void Delete(int index);
    void Clear() { items_.clear(); }
    // Index of the first line equal to text ignoring the case of ASCII letters; -1 if none.
    int IndexOf(std::string_view text) const;

    std::vector<std::string> Lines() const;

  private:
    struct Item {
        std::string text;
        std::unique_ptr<TObject> object;
    };
    std::vector<Item> items_;
};
