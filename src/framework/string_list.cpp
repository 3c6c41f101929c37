#include "framework/string_list.h"

#include "framework/sysutils.h"

int TStringList::AddObject(std::string text, std::unique_ptr<TObject> object) {
    items_.push_back(Item{std::move(text), std::move(object)});
    return Count() - 1;
}

void TStringList::Delete(int index) {
    items_.erase(items_.begin() + index);
}

int TStringList::IndexOf(std::string_view text) const {
    for (int i = 0; i < Count(); ++i) {
        if (SameTextAscii(items_[static_cast<size_t>(i)].text, text)) {
            return i;
        }
    }
    return -1;
}

std::vector<std::string> TStringList::Lines() const {
    std::vector<std::string> lines;
    lines.reserve(items_.size());
    for (const Item& item : items_) {
        lines.push_back(item.text);
    }
    return lines;
}
