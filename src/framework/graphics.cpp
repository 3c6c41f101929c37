#include "framework/graphics.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "framework/exceptions.h"
#include "framework/published.h"
#include "framework/sysutils.h"

// The system colours' indices are the platform's.
static_assert(clScrollBar == SystemColor(COLOR_SCROLLBAR) && clBackground == SystemColor(COLOR_BACKGROUND) &&
              clActiveCaption == SystemColor(COLOR_ACTIVECAPTION) &&
              clInactiveCaption == SystemColor(COLOR_INACTIVECAPTION) && clMenu == SystemColor(COLOR_MENU) &&
              clWindow == SystemColor(COLOR_WINDOW) && clWindowFrame == SystemColor(COLOR_WINDOWFRAME) &&
              clMenuText == SystemColor(COLOR_MENUTEXT) && clWindowText == SystemColor(COLOR_WINDOWTEXT) &&
              clCaptionText == SystemColor(COLOR_CAPTIONTEXT) &&
              clActiveBorder == SystemColor(COLOR_ACTIVEBORDER) &&
              clInactiveBorder == SystemColor(COLOR_INACTIVEBORDER) &&
              clAppWorkSpace == SystemColor(COLOR_APPWORKSPACE) &&
              clHighlight == SystemColor(COLOR_HIGHLIGHT) &&
              clHighlightText == SystemColor(COLOR_HIGHLIGHTTEXT) &&
              clBtnFace == SystemColor(COLOR_BTNFACE) && clBtnShadow == SystemColor(COLOR_BTNSHADOW) &&
              clGrayText == SystemColor(COLOR_GRAYTEXT) && clBtnText == SystemColor(COLOR_BTNTEXT) &&
              clInactiveCaptionText == SystemColor(COLOR_INACTIVECAPTIONTEXT) &&
              clBtnHighlight == SystemColor(COLOR_BTNHIGHLIGHT) &&
              cl3DDkShadow == SystemColor(COLOR_3DDKSHADOW) && cl3DLight == SystemColor(COLOR_3DLIGHT) &&
              clInfoText == SystemColor(COLOR_INFOTEXT) && clInfoBk == SystemColor(COLOR_INFOBK));

namespace {

int ScreenCaps(int index) {
    WindowDc screen(nullptr);
    return ::GetDeviceCaps(screen.get(), index);
}

}  // namespace

COLORREF ColorToRGB(TColor color) {
    if (IsSystemColor(color)) {
        return ::GetSysColor(static_cast<int>(color & 0xFF));
    }
    return static_cast<COLORREF>(color & 0xFFFFFF);
}

int ScreenPixelsPerInch() {
    return ScreenCaps(LOGPIXELSY);
}

int ScreenWidth() {
    return ::GetSystemMetrics(SM_CXSCREEN);
}

int ScreenHeight() {
    return ::GetSystemMetrics(SM_CYSCREEN);
}

// ---------------------------------------------------------------------------------------------
// TFont

TFont::TFont() : height_(-::MulDiv(8, ScreenPixelsPerInch(), 72)) {}

TFont::TFont(const TFont& other)
    : TObject(other),
      name_(other.name_),
      height_(other.height_),
      style_(other.style_),
      color_(other.color_) {}

TFont& TFont::operator=(const TFont& other) {
    if (this != &other && !(*this == other)) {
        name_ = other.name_;
        height_ = other.height_;
        style_ = other.style_;
        color_ = other.color_;
        Changed();
    }
    return *this;
}

bool TFont::operator==(const TFont& other) const {
    return name_ == other.name_ && height_ == other.height_ && style_ == other.style_ &&
           color_ == other.color_;
}

void TFont::SetName(std::string name) {
    if (StoreIfChanged(name_, std::move(name))) {
        Changed();
    }
}

void TFont::SetHeight(int height) {
    if (StoreIfChanged(height_, height)) {
        Changed();
    }
}

int TFont::Size() const {
    return -::MulDiv(height_, 72, ScreenPixelsPerInch());
}

void TFont::SetSize(int points) {
    SetHeight(-::MulDiv(points, ScreenPixelsPerInch(), 72));
}

void TFont::SetStyle(TFontStyles style) {
    if (StoreIfChanged(style_, style)) {
        Changed();
    }
}

void TFont::SetColor(TColor color) {
    if (StoreIfChanged(color_, color) && OnChange) {
        OnChange();  // the colour is not part of the GDI font: the handle stays
    }
}

void TFont::Changed() {
    handle_.reset();
    if (OnChange) {
        OnChange();
    }
}

HFONT TFont::Handle() const {
    if (!handle_) {
        LOGFONTA font{};
        font.lfHeight = height_;
        font.lfWeight = HasStyle(TFontStyle::fsBold) ? FW_BOLD : FW_NORMAL;
        font.lfItalic = HasStyle(TFontStyle::fsItalic) ? TRUE : FALSE;
        font.lfUnderline = HasStyle(TFontStyle::fsUnderline) ? TRUE : FALSE;
        font.lfStrikeOut = HasStyle(TFontStyle::fsStrikeOut) ? TRUE : FALSE;
        font.lfCharSet = DEFAULT_CHARSET;
        font.lfOutPrecision = OUT_DEFAULT_PRECIS;
        font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
        font.lfQuality = DEFAULT_QUALITY;
        font.lfPitchAndFamily = DEFAULT_PITCH;
        std::strncpy(font.lfFaceName, name_.c_str(), LF_FACESIZE - 1);
        handle_.reset(::CreateFontIndirectA(&font));
        if (!handle_) {
            throw EOutOfMemory(msg::kOutOfMemory);
        }
    }
    return static_cast<HFONT>(handle_.get());
}

namespace {

// In the order of TFontStyle's bits.
constexpr std::string_view kFontStyleNames[] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};

// Fonts are always made with the default character set; a stored number or name is accepted.
void AcceptCharset(TFont&, const TPropValue& value, const TReaderContext&) {
    if (value.kind != TPropValue::Kind::Integer) {
        value.AsIdent();
    }
}

constexpr TPublishedProperty<TFont> kFontProperties[] = {
    {"Name", Setter<&TFont::SetName, ReadString>},
    {"Height", Setter<&TFont::SetHeight, ReadInteger>},
    {"Size", Setter<&TFont::SetSize, ReadInteger>},
    {"Color", Setter<&TFont::SetColor, ReadColor>},
    {"Charset", AcceptCharset},
    {"Style", Setter<&TFont::SetStyle, ReadSet<TFontStyles, kFontStyleNames>>},
};

}  // namespace

bool TFont::SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) {
    return SetPublished(*this, kFontProperties, name, value, context);
}

// ---------------------------------------------------------------------------------------------
// TBrush, TPen

HBRUSH TBrush::Handle() const {
    if (style_ == TBrushStyle::bsClear) {
        return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
    }
    if (!handle_) {
        handle_.reset(::CreateSolidBrush(ColorToRGB(color_)));
    }
    return handle_.get();
}

HPEN TPen::Handle() const {
    // The GDI pen styles, in the order of TPenStyle.
    static constexpr int kStyles[] = {PS_SOLID, PS_DASH, PS_DOT, PS_NULL};
    static_assert(std::size(kStyles) == static_cast<size_t>(TPenStyle::psClear) + 1);
    if (!handle_) {
        handle_.reset(::CreatePen(kStyles[static_cast<size_t>(style_)], width_, ColorToRGB(color_)));
    }
    return handle_.get();
}

// ---------------------------------------------------------------------------------------------
// TCanvas

TCanvas::Selection::Selection(const TCanvas& canvas)
    : dc_(canvas.dc_),
      font_(dc_, canvas.Font.Handle()),
      brush_(dc_, canvas.Brush.Handle()),
      pen_(dc_, canvas.Pen.Handle()),
      textColor_(::SetTextColor(dc_, ColorToRGB(canvas.Font.Color()))),
      bkMode_(::SetBkMode(dc_, canvas.Brush.Style() == TBrushStyle::bsClear ? TRANSPARENT : OPAQUE)),
      bkColor_(::SetBkColor(dc_, ColorToRGB(canvas.Brush.Color()))) {}

TCanvas::Selection::~Selection() {
    ::SetBkColor(dc_, bkColor_);
    ::SetBkMode(dc_, bkMode_);
    ::SetTextColor(dc_, textColor_);
    // The pen, brush and font go back in that order as their guards end.
}

void TCanvas::FillRect(const RECT& rect) {
    ::FillRect(dc_, &rect, Brush.Handle());
}

void TCanvas::Rectangle(int left, int top, int right, int bottom) {
    auto selection = Select();
    ::Rectangle(dc_, left, top, right, bottom);
}

void TCanvas::Ellipse(int left, int top, int right, int bottom) {
    auto selection = Select();
    ::Ellipse(dc_, left, top, right, bottom);
}

void TCanvas::Pie(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2) {
    auto selection = Select();
    ::Pie(dc_, left, top, right, bottom, x1, y1, x2, y2);
}

void TCanvas::MoveTo(int x, int y) {
    ::MoveToEx(dc_, x, y, nullptr);
}

void TCanvas::LineTo(int x, int y) {
    auto selection = Select();
    ::LineTo(dc_, x, y);
}

void TCanvas::Frame3D(RECT& rect, TColor topLeft, TColor bottomRight, int width) {
    UniquePen light(::CreatePen(PS_SOLID, 1, ColorToRGB(topLeft)));
    UniquePen dark(::CreatePen(PS_SOLID, 1, ColorToRGB(bottomRight)));
    --rect.bottom;
    --rect.right;
    for (int i = 0; i < width; ++i) {
        {
            SelectGuard pen(dc_, light.get());
            ::MoveToEx(dc_, rect.left, rect.bottom, nullptr);
            ::LineTo(dc_, rect.left, rect.top);
            ::LineTo(dc_, rect.right, rect.top);
        }
        {
            SelectGuard pen(dc_, dark.get());
            ::LineTo(dc_, rect.right, rect.bottom);
            ::LineTo(dc_, rect.left - 1, rect.bottom);
        }
        ::InflateRect(&rect, -1, -1);
    }
    ++rect.bottom;
    ++rect.right;
}

void TCanvas::DrawFocusRect(const RECT& rect) {
    ::DrawFocusRect(dc_, &rect);
}

void TCanvas::TextOut(int x, int y, std::string_view text) {
    auto selection = Select();
    ::TextOutA(dc_, x, y, text.data(), static_cast<int>(text.size()));
}

void TCanvas::TextRect(const RECT& rect, int x, int y, std::string_view text) {
    auto selection = Select();
    const UINT options = ETO_CLIPPED | (Brush.Style() == TBrushStyle::bsClear ? 0 : ETO_OPAQUE);
    ::ExtTextOutA(dc_, x, y, options, &rect, text.data(), static_cast<UINT>(text.size()), nullptr);
}

int TCanvas::DrawText(std::string_view text, RECT& rect, UINT format) {
    auto selection = Select();
    return ::DrawTextA(dc_, text.data(), static_cast<int>(text.size()), &rect, format);
}

SIZE TCanvas::TextExtent(std::string_view text) const {
    auto selection = Select();
    SIZE size{};
    ::GetTextExtentPoint32A(dc_, text.data(), static_cast<int>(text.size()), &size);
    return size;
}

void TCanvas::Draw(int x, int y, const TBitmap& bitmap) {
    if (bitmap.Empty()) {
        return;
    }
    ::BitBlt(dc_, x, y, bitmap.Width(), bitmap.Height(), bitmap.Canvas().Handle(), 0, 0, CopyMode);
}

void TCanvas::DrawTransparent(int x, int y, const TBitmap& bitmap, TColor transparent) {
    if (bitmap.Empty()) {
        return;
    }
    ::GdiTransparentBlt(dc_, x, y, bitmap.Width(), bitmap.Height(), bitmap.Canvas().Handle(), 0, 0,
                        bitmap.Width(), bitmap.Height(), ColorToRGB(transparent));
}

void TCanvas::CopyRect(const RECT& dest, const TCanvas& source, const RECT& sourceRect) {
    ::StretchBlt(dc_, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, source.dc_,
                 sourceRect.left, sourceRect.top, sourceRect.right - sourceRect.left,
                 sourceRect.bottom - sourceRect.top, CopyMode);
}

TColor TCanvas::Pixel(int x, int y) const {
    return static_cast<TColor>(::GetPixel(dc_, x, y));
}

void TCanvas::SetPixel(int x, int y, TColor color) {
    ::SetPixel(dc_, x, y, ColorToRGB(color));
}

// ---------------------------------------------------------------------------------------------
// TBitmap

TBitmap::TBitmap() : dc_(::CreateCompatibleDC(nullptr)) {
    if (!dc_) {
        throw EOutOfMemory(msg::kOutOfMemory);
    }
    canvas_.SetHandle(dc_.get());
}

TBitmap::~TBitmap() {
    if (originalBitmap_ != nullptr) {
        ::SelectObject(dc_.get(), originalBitmap_);
    }
}

void TBitmap::Adopt(HBITMAP bitmap) {
    UniqueBitmap owned(bitmap);
    BITMAP info{};
    if (!owned || ::GetObjectA(owned.get(), sizeof(info), &info) == 0) {
        throw EOutOfMemory(msg::kOutOfMemory);
    }
    // Put the new bitmap into the DC before the old one goes: a selected bitmap cannot be deleted.
    HGDIOBJ previous = ::SelectObject(dc_.get(), owned.get());
    if (originalBitmap_ == nullptr) {
        originalBitmap_ = previous;
    }
    bitmap_ = std::move(owned);
    width_ = info.bmWidth;
    height_ = std::abs(info.bmHeight);
}

void TBitmap::SetSize(int width, int height) {
    if (width <= 0 || height <= 0) {
        if (originalBitmap_ != nullptr) {
            ::SelectObject(dc_.get(), originalBitmap_);
            originalBitmap_ = nullptr;
        }
        bitmap_.reset();
        width_ = std::max(width, 0);
        height_ = std::max(height, 0);
        return;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    Adopt(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
}

void TBitmap::LoadFromResourceName(HINSTANCE module, const std::string& name) {
    if (module == nullptr) {
        module = ::GetModuleHandleA(nullptr);
    }
    HANDLE image = ::LoadImageA(module, name.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    if (image == nullptr) {
        throw EResNotFound(Format(msg::kResNotFound, name.c_str()));
    }
    Adopt(static_cast<HBITMAP>(image));
}

void TBitmap::LoadFromBytes(const std::vector<uint8_t>& bytes) {
    // A .bmp file: BITMAPFILEHEADER (14 bytes, "BM", offset of the pixels at byte 10), then a
    // BITMAPINFOHEADER (or larger) with its colour table, then the pixel rows.
    const auto invalid = [] { return EReadError("Invalid bitmap"); };
    if (bytes.size() < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) || bytes[0] != 'B' ||
        bytes[1] != 'M') {
        throw invalid();
    }
    BITMAPFILEHEADER file;
    std::memcpy(&file, bytes.data(), sizeof(file));
    BITMAPINFOHEADER header;
    std::memcpy(&header, bytes.data() + sizeof(file), sizeof(header));
    const size_t headerEnd = sizeof(file) + header.biSize;
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biSize > bytes.size() - sizeof(file) ||
        header.biWidth <= 0 || header.biHeight == 0 || header.biHeight == INT32_MIN ||
        header.biWidth > 0x8000 || std::abs(header.biHeight) > 0x8000 || header.biPlanes != 1 ||
        header.biCompression != BI_RGB) {
        throw invalid();
    }
    const int bitCount = header.biBitCount;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32) {
        throw invalid();
    }
    const size_t maxColors = bitCount <= 8 ? (size_t{1} << bitCount) : 0;
    const size_t colors = header.biClrUsed != 0 ? header.biClrUsed : maxColors;
    if (colors > maxColors || (bitCount > 8 && header.biClrUsed != 0)) {
        throw invalid();
    }
    const size_t stride =
        ((static_cast<size_t>(header.biWidth) * static_cast<size_t>(bitCount) + 31) / 32) * 4;
    const size_t pixelBytes = stride * static_cast<size_t>(std::abs(header.biHeight));
    const size_t tableBytes = colors * sizeof(RGBQUAD);
    if (tableBytes > bytes.size() - headerEnd || file.bfOffBits < headerEnd + tableBytes ||
        file.bfOffBits > bytes.size() || pixelBytes > bytes.size() - file.bfOffBits) {
        throw invalid();
    }
    // BITMAPINFO with the header trimmed to its basic size, followed by the colour table.
    std::vector<uint8_t> info(sizeof(BITMAPINFOHEADER) + tableBytes);
    BITMAPINFOHEADER basic = header;
    basic.biSize = sizeof(BITMAPINFOHEADER);
    std::memcpy(info.data(), &basic, sizeof(basic));
    std::memcpy(info.data() + sizeof(basic), bytes.data() + headerEnd, tableBytes);
    void* bits = nullptr;
    UniqueBitmap section(::CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(info.data()),
                                            DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!section || bits == nullptr) {
        throw EOutOfMemory(msg::kOutOfMemory);
    }
    std::memcpy(bits, bytes.data() + file.bfOffBits, pixelBytes);
    ::GdiFlush();
    Adopt(static_cast<HBITMAP>(section.release()));
}

TCanvas& TBitmap::Canvas() {
    return canvas_;
}
