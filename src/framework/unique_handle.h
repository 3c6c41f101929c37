// Move-only owners of single Win32 handles. Each alias names the call that releases its kind.
#pragma once

#include <windows.h>

#include <utility>

template <typename H, auto Close, H Invalid = H{}>
class Unique {
  public:
    explicit Unique(H h = Invalid) noexcept : h_(h) {}
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& o) noexcept : h_(std::exchange(o.h_, Invalid)) {}
    Unique& operator=(Unique&& o) noexcept {
        reset(std::exchange(o.h_, Invalid));
        return *this;
    }
    ~Unique() { reset(); }

    void reset(H h = Invalid) noexcept {
        if (h_ != Invalid) {
            Close(h_);
        }
        h_ = h;
    }
    H release() noexcept { return std::exchange(h_, Invalid); }
    H get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != Invalid; }

  private:
    H h_;
};

namespace detail {
inline void CloseFileHandle(HANDLE h) noexcept {
    ::CloseHandle(h);
}
inline void DeleteGdiObject(HGDIOBJ h) noexcept {
    ::DeleteObject(h);
}
inline void CloseRegKey(HKEY h) noexcept {
    ::RegCloseKey(h);
}
inline void FreeLibraryHandle(HMODULE h) noexcept {
    ::FreeLibrary(h);
}
inline void DestroyIconHandle(HICON h) noexcept {
    ::DestroyIcon(h);
}
inline void DestroyWindowHandle(HWND h) noexcept {
    ::DestroyWindow(h);
}
}  // namespace detail

using UniqueFile = Unique<HANDLE, &detail::CloseFileHandle, static_cast<HANDLE>(nullptr)>;
using UniqueGdiObject = Unique<HGDIOBJ, &detail::DeleteGdiObject>;
using UniqueBitmap = Unique<HBITMAP, &detail::DeleteGdiObject>;
using UniqueBrush = Unique<HBRUSH, &detail::DeleteGdiObject>;
using UniqueFont = Unique<HFONT, &detail::DeleteGdiObject>;
using UniquePen = Unique<HPEN, &detail::DeleteGdiObject>;
using UniqueMemDc = Unique<HDC, &::DeleteDC>;
using UniqueHkey = Unique<HKEY, &detail::CloseRegKey>;
using UniqueModule = Unique<HMODULE, &detail::FreeLibraryHandle>;
using UniqueIcon = Unique<HICON, &detail::DestroyIconHandle>;
using UniqueWindow = Unique<HWND, &detail::DestroyWindowHandle>;

// CreateFile and FindFirstFile report failure as INVALID_HANDLE_VALUE, not 0: these owners take
// that value as "no handle".
class UniqueFileHandle {
  public:
    explicit UniqueFileHandle(HANDLE h = INVALID_HANDLE_VALUE) noexcept : h_(h) {}
    UniqueFileHandle(const UniqueFileHandle&) = delete;
    UniqueFileHandle& operator=(const UniqueFileHandle&) = delete;
    UniqueFileHandle(UniqueFileHandle&& o) noexcept : h_(std::exchange(o.h_, INVALID_HANDLE_VALUE)) {}
    UniqueFileHandle& operator=(UniqueFileHandle&& o) noexcept {
        reset(std::exchange(o.h_, INVALID_HANDLE_VALUE));
        return *this;
    }
    ~UniqueFileHandle() { reset(); }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) noexcept {
        if (h_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(h_);
        }
        h_ = h;
    }
    HANDLE get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE h_;
};

class UniqueFindHandle {
  public:
    explicit UniqueFindHandle(HANDLE h = INVALID_HANDLE_VALUE) noexcept : h_(h) {}
    UniqueFindHandle(const UniqueFindHandle&) = delete;
    UniqueFindHandle& operator=(const UniqueFindHandle&) = delete;
    ~UniqueFindHandle() {
        if (h_ != INVALID_HANDLE_VALUE) {
            ::FindClose(h_);
        }
    }
    HANDLE get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE h_;
};

// A window's device context, released with ReleaseDC.
class WindowDc {
  public:
    explicit WindowDc(HWND hwnd) noexcept : hwnd_(hwnd), dc_(::GetDC(hwnd)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() {
        if (dc_ != nullptr) {
            ::ReleaseDC(hwnd_, dc_);
        }
    }
    HDC get() const noexcept { return dc_; }

  private:
    HWND hwnd_;
    HDC dc_;
};

// Selects an object into a device context and puts the previous one back. Declare it after the
// object that it selects, so that the object outlives the selection.
class SelectGuard {
  public:
    SelectGuard(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(::SelectObject(dc, object)) {}
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;
    ~SelectGuard() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) {
            ::SelectObject(dc_, previous_);
        }
    }

  private:
    HDC dc_;
    HGDIOBJ previous_;
};
