// Owners of single Win32 handles and small scope guards over device contexts.
#pragma once

#include <windows.h>

#include <utility>

// What an owner knows of one kind of handle: its type, the value that means "no handle" and the
// call that releases it. Most kinds use 0 for "no handle"; CreateFile and FindFirstFile report
// failure as INVALID_HANDLE_VALUE, which is not a constant expression and so lives in a function.
template <typename H, auto Release>
struct HandleTraits {
    using Handle = H;
    static H Invalid() noexcept { return H{}; }
    static void Close(H h) noexcept { Release(h); }
};

template <auto Release>
struct InvalidValueHandleTraits : HandleTraits<HANDLE, Release> {
    static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
};

// Move-only owner of one handle, released by its traits' Close unless it is the invalid value.
template <typename Traits>
class Unique {
  public:
    using H = typename Traits::Handle;

    explicit Unique(H h = Traits::Invalid()) noexcept : h_(h) {}
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& o) noexcept : h_(o.release()) {}
    Unique& operator=(Unique&& o) noexcept {
        reset(o.release());
        return *this;
    }
    ~Unique() { reset(); }

    void reset(H h = Traits::Invalid()) noexcept {
        if (h_ != Traits::Invalid()) {
            Traits::Close(h_);
        }
        h_ = h;
    }
    H release() noexcept { return std::exchange(h_, Traits::Invalid()); }
    H get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != Traits::Invalid(); }

  private:
    H h_;
};

using UniqueBitmap = Unique<HandleTraits<HBITMAP, &::DeleteObject>>;
using UniqueBrush = Unique<HandleTraits<HBRUSH, &::DeleteObject>>;
using UniqueFont = Unique<HandleTraits<HFONT, &::DeleteObject>>;
using UniquePen = Unique<HandleTraits<HPEN, &::DeleteObject>>;
using UniqueMemDc = Unique<HandleTraits<HDC, &::DeleteDC>>;
using UniqueHkey = Unique<HandleTraits<HKEY, &::RegCloseKey>>;
using UniqueModule = Unique<HandleTraits<HMODULE, &::FreeLibrary>>;
// Kernel objects whose opening fails with 0 (processes, threads, events).
using UniqueKernelHandle = Unique<HandleTraits<HANDLE, &::CloseHandle>>;
// Files and snapshots, whose opening fails with INVALID_HANDLE_VALUE.
using UniqueFileHandle = Unique<InvalidValueHandleTraits<&::CloseHandle>>;
using UniqueFindHandle = Unique<InvalidValueHandleTraits<&::FindClose>>;

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

// BeginPaint and EndPaint as one owner, for a WM_PAINT handler.
class PaintDc {
  public:
    explicit PaintDc(HWND hwnd) noexcept : hwnd_(hwnd), dc_(::BeginPaint(hwnd, &paint_)) {}
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;
    ~PaintDc() { ::EndPaint(hwnd_, &paint_); }
    HDC get() const noexcept { return dc_; }
    // The area that needs painting.
    const RECT& Area() const noexcept { return paint_.rcPaint; }

  private:
    HWND hwnd_;
    PAINTSTRUCT paint_{};
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
