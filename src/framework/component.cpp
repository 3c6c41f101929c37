#include "framework/component.h"

#include <algorithm>

#include "framework/exceptions.h"
#include "framework/sysutils.h"

bool IsPublished(std::string_view name, std::initializer_list<std::string_view> kept) {
    for (std::string_view entry : kept) {
        const bool group = !entry.empty() && entry.back() == '.';
        if (group ? name.size() > entry.size() && SameTextAscii(name.substr(0, entry.size()), entry)
                  : SameTextAscii(name, entry)) {
            return true;
        }
    }
    return false;
}

void TReaderContext::ThrowMissingMethod(std::string_view name) {
    throw EReadError(Format("Invalid event handler '%.*s'", static_cast<int>(name.size()), name.data()));
}

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_ != nullptr) {
        owner_->Insert(this);
    }
}

TComponent::~TComponent() {
    DestroyComponents();
    destroying_ = true;
    if (owner_ != nullptr) {
        owner_->Remove(this);
    }
}

void TComponent::DestroyComponents() {
    while (!components_.empty()) {
        TComponent* last = components_.back();
        components_.pop_back();
        last->owner_ = nullptr;
        delete last;
    }
}

void TComponent::Remove(TComponent* component) {
    if (destroying_) {
        return;
    }
    components_.erase(std::remove(components_.begin(), components_.end(), component), components_.end());
}

TComponent* TComponent::FindComponent(std::string_view name) const {
    for (TComponent* component : components_) {
        if (SameTextAscii(component->Name(), name)) {
            return component;
        }
    }
    return nullptr;
}

// The one property that every component has; the tables of published.h build on this class, so it
// reads its own directly.
bool TComponent::SetProperty(std::string_view name, const TPropValue& value, const TReaderContext&) {
    if (SameTextAscii(name, "Name")) {
        SetName(value.AsIdent());
        return true;
    }
    return false;
}
