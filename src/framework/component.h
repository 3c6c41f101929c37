// Components: named objects with an owner that frees them, and published properties that a
// stored window layout sets by name.
//
// Ownership: a component created with an owner is freed by that owner (children go in reverse
// order of creation). A component freed earlier by hand leaves its owner's list first.
//
// Published properties: each class answers SetProperty for the names it publishes and passes any
// other name to its base class; TComponent itself publishes "Name". A class that publishes only
// some of its base's properties lists the ones it keeps (IsPublished) and answers false for the
// rest. The layout reader hands over values as TPropValue (read through its accessors) and, for
// event properties, resolves handler names through the TReaderContext of the window being read.
#pragma once

#include <any>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "framework/object.h"
#include "framework/property_value.h"

// What the reader knows while it reads one window: its event handlers by name. Each handler is a
// std::function of the event's own type, stored in a std::any.
class TReaderContext {
  public:
    virtual ~TReaderContext() = default;
    // The handler called name, or nullptr when the window has none of that name.
    virtual const std::any* FindMethod(std::string_view name) const = 0;

    // The handler as an event of type Event; EReadError when it is missing or of another type.
    template <typename Event>
    Event Method(std::string_view name) const {
        const std::any* handler = FindMethod(name);
        if (handler == nullptr) {
            ThrowMissingMethod(name);
        }
        if (const Event* event = std::any_cast<Event>(handler)) {
            return *event;
        }
        ThrowMissingMethod(name);
    }

  private:
    [[noreturn]] static void ThrowMissingMethod(std::string_view name);
};

// Whether name is among the inherited properties that a class keeps publishing. An entry ending in
// "." keeps a whole group: "Font." keeps Font.Name, Font.Height and the others.
bool IsPublished(std::string_view name, std::initializer_list<std::string_view> kept);

class TComponent : public TObject {
  public:
    explicit TComponent(TComponent* owner);
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;
    ~TComponent() override;

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    virtual const char* ClassName() const { return "TComponent"; }

    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int index) const { return components_.at(static_cast<size_t>(index)); }
    // The owned component of that name, compared ignoring ASCII case; nullptr if none.
    TComponent* FindComponent(std::string_view name) const;

    // Sets a published property. Returns false for a name that this class and its bases do not
    // publish; raises EReadError for a value of the wrong kind.
    virtual bool SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context);

    // Called once the layout reader has set every stored property of the window.
    virtual void Loaded() {}
    // True while the layout reader sets the stored properties (between its creation of the
    // component and Loaded): derived classes put off work that depends on several properties.
    bool Loading() const { return loading_; }
    void SetLoading(bool loading) { loading_ = loading; }

    // The layout reader nests objects: a control read inside another one gets that one as its
    // parent (the window it lies on). Components that are not controls ignore it.
    virtual void SetParentComponent(TComponent* /*parent*/) {}

  protected:
    // Frees the owned components now, last created first (a window frees its controls before its
    // own window goes).
    void DestroyComponents();

  private:
    void Insert(TComponent* component) { components_.push_back(component); }
    void Remove(TComponent* component);

    TComponent* owner_;
    std::string name_;
    std::vector<TComponent*> components_;
    bool destroying_ = false;
    bool loading_ = false;
};
