// A 32-bit top-down DIB section selected into a memory DC, for painting widgets off-screen and
// reading back exact pixels.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

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
        dc_ = ::CreateCompatibleDC(nullptr);
        void* bits = nullptr;
        bitmap_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        bits_ = static_cast<uint32_t*>(bits);
        previous_ = ::SelectObject(dc_, bitmap_);
        Fill(fill);
    }
    DibCanvas(const DibCanvas&) = delete;
    DibCanvas& operator=(const DibCanvas&) = delete;
    ~DibCanvas() {
        ::SelectObject(dc_, previous_);
        ::DeleteObject(bitmap_);
        ::DeleteDC(dc_);
    }

    HDC dc() const { return dc_; }
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

    // A row of the picture as characters: '#' for colour `on`, '.' for colour `off`, '?' otherwise.
    std::string Row(int y, COLORREF on, COLORREF off) const {
        std::string s;
        for (int x = 0; x < width_; ++x) {
            const COLORREF p = Pixel(x, y);
            s += p == on ? '#' : p == off ? '.' : '?';
        }
        return s;
    }
    std::string Column(int x, COLORREF on, COLORREF off) const {
        std::string s;
        for (int y = 0; y < height_; ++y) {
            const COLORREF p = Pixel(x, y);
            s += p == on ? '#' : p == off ? '.' : '?';
        }
        return s;
    }

  private:
    static uint32_t ToDib(COLORREF c) {
        return (uint32_t{GetRValue(c)} << 16) | (uint32_t{GetGValue(c)} << 8) | GetBValue(c);
    }

    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    uint32_t* bits_ = nullptr;
};
