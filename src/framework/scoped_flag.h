// Sets a flag for the length of a scope and puts its previous value back on every way out,
// exceptions included.
#pragma once

#include <utility>

class ScopedFlag {
  public:
    explicit ScopedFlag(bool& flag) noexcept : flag_(flag), previous_(std::exchange(flag, true)) {}
    ScopedFlag(const ScopedFlag&) = delete;
    ScopedFlag& operator=(const ScopedFlag&) = delete;
    ~ScopedFlag() { flag_ = previous_; }

  private:
    bool& flag_;
    bool previous_;
};
