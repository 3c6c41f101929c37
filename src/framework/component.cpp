#include "component.h"

#include <algorithm>

#include "exceptions.h"
#include "sysutils.h"

namespace {

[[noreturn]] void ThrowInvalidValue() {
    throw EReadError("Invalid property value");
}

}  // namespace

int32_t TPropValue::AsInteger() const {
    if (kind != Kind::Integer || integer < INT32_MIN || integer > INT32_MAX) {
        ThrowInvalidValue();
    }
    return static_cast<int32_t>(integer);
}

const std::string& TPropValue::AsString() const {
    if (kind != Kind::String) {
        ThrowInvalidValue();
    }
    return text;
}

const std::string& TPropValue::AsIdent() const {
    if (kind != Kind::Ident) {
        ThrowInvalidValue();
    }
    return text;
}

bool TPropValue::AsBoolean() const {
    if (kind == Kind::Ident && SameTextAscii(text, "True")) {
        return true;
    }
    if (kind == Kind::Ident && SameTextAscii(text, "False")) {
        return false;
    }
    ThrowInvalidValue();
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

bool TComponent::SetProperty(std::string_view name, const TPropValue& value, const TReaderContext&) {
    if (SameTextAscii(name, "Name")) {
        SetName(value.AsIdent());
        return true;
    }
    return false;
}
