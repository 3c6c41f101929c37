// A 32-bit top-down DIB section selected into a memory DC, for painting widgets off-screen and
// reading back exact pixels.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "framework/unique_handle.h"

class DibCanvas {
  public:
    DibCanvas(int width, int height, COLORREF fill = RGB(0x12, 0x34, 0x56)) : width_(width), height_(height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_.reset(::CreateCompatibleDC(nullptr));
        void* bits = nullptr;
        bitmap_.reset(::CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        bits_ = static_cast<uint32_t*>(bits);
        previous_ = ::SelectObject(dc_.get(), bitmap_.get());
        Fill(fill);
    }
    DibCanvas(const DibCanvas&) = delete;
    DibCanvas& operator=(const DibCanvas&) = delete;
    // The bitmap is selected out before its owner deletes it.
    ~DibCanvas() { ::SelectObject(dc_.get(), previous_); }

    HDC dc() const { return dc_.get(); }
    int width() const { return width_; }
    int height() const { return height_; }

    void Fill(COLORREF color) {
        ::GdiFlush();
        for (int i = 0; i < width_ * height_; ++i) {
            bits_[i] = ToDib(color);
        }
    }

    // The pixel as an RGB value (red in the low byte), like GetPixel.
    COLORREF Pixel(int x, int y) const {
        ::GdiFlush();
        const uint32_t v = bits_[y * width_ + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }

    // A row or a column of the picture as characters: '#' for colour `on`, '.' for colour `off`,
    // '?' otherwise.
    std::string Row(int y, COLORREF on, COLORREF off) const {
        return Line(width_, on, off, [&](int x) { return Pixel(x, y); });
    }
    std::string Column(int x, COLORREF on, COLORREF off) const {
        return Line(height_, on, off, [&](int y) { return Pixel(x, y); });
    }

  private:
    template <typename PixelAt>
    static std::string Line(int length, COLORREF on, COLORREF off, PixelAt pixelAt) {
        std::string s;
        for (int i = 0; i < length; ++i) {
            const COLORREF p = pixelAt(i);
            s += p == on ? '#' : p == off ? '.' : '?';
        }
        return s;
    }
    static uint32_t ToDib(COLORREF c) {
        return (uint32_t{GetRValue(c)} << 16) | (uint32_t{GetGValue(c)} << 8) | GetBValue(c);
    }

    int width_;
    int height_;
    UniqueMemDc dc_;
    UniqueBitmap bitmap_;
    HGDIOBJ previous_ = nullptr;
    uint32_t* bits_ = nullptr;
};
