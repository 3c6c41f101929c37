// Move-only owner of one COM interface reference: Release is called exactly once, when the owner
// goes out of scope or is reset. Several owners in one scope release in reverse declaration order,
// so declare them in the opposite order of the wanted releases.
#pragma once

#include <windows.h>

#include <unknwn.h>

#include <utility>

template <typename T>
class ComPtr {
  public:
    ComPtr() noexcept = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        reset(std::exchange(other.p_, nullptr));
        return *this;
    }
    ~ComPtr() { reset(); }

    // Releases the held reference and takes ownership of p (already counted for this owner).
    void reset(T* p = nullptr) noexcept {
        if (p_ != nullptr) {
            p_->Release();
        }
        p_ = p;
    }

    // For out-parameters (IID_PPV_ARGS(x.put())): drops the held reference first.
    T** put() noexcept {
        reset();
        return &p_;
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

  private:
    T* p_ = nullptr;
};
