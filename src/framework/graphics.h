// Colours, fonts, brushes, pens, canvases and bitmaps over GDI.
//
// A TCanvas draws on a device context that someone else owns (a window's paint DC, a memory DC of
// a TBitmap). Its Font, Brush and Pen are selected into the DC only for the length of each drawing
// call and put back afterwards, so a canvas never leaves its objects selected in a DC it does not
// own, and a font or brush may change between calls. Code that calls GDI directly on Handle()
// takes the canvas's objects for the length of a scope with `auto selection = canvas.Select();`.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/color.h"
#include "framework/object.h"
#include "framework/store_if_changed.h"
#include "framework/unique_handle.h"

// The colour GDI draws for a TColor: system colours through the live system palette.
COLORREF ColorToRGB(TColor color);

// Screen figures used for layout scaling and dialog placement.
int ScreenPixelsPerInch();
int ScreenWidth();
int ScreenHeight();

enum class TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = uint8_t;  // a set of TFontStyle bits

struct TPropValue;
class TReaderContext;

// A logical font. Height is in pixels: negative for a character height (what layouts store),
// positive for a cell height. The GDI font is made when first asked for and remade after a change.
class TFont : public TObject {
  public:
    TFont();  // "MS Sans Serif", 8 points at the screen's resolution, regular, clWindowText
    TFont(const TFont& other);
    TFont& operator=(const TFont& other);

    const std::string& Name() const { return name_; }
    void SetName(std::string name);
    int Height() const { return height_; }
    void SetHeight(int height);
    int Size() const;  // points, from Height at the screen's resolution
    void SetSize(int points);
    TFontStyles Style() const { return style_; }
    void SetStyle(TFontStyles style);
    bool HasStyle(TFontStyle style) const { return (style_ & static_cast<uint8_t>(style)) != 0; }
    TColor Color() const { return color_; }
    void SetColor(TColor color);

    void Assign(const TFont& other) { *this = other; }
    bool operator==(const TFont& other) const;

    HFONT Handle() const;

    // Sets one of Name, Height, Size, Style, Color, Charset from a layout value; false for other names.
    bool SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context);

    // Runs after every change (the owning control repaints or resizes).
    std::function<void()> OnChange;

  private:
    void Changed();

    std::string name_ = "MS Sans Serif";
    int height_;
    TFontStyles style_ = 0;
    TColor color_ = clWindowText;
    mutable UniqueFont handle_;
};

// What a brush and a pen share: a colour, and the GDI object that Handle makes from the
// properties when first asked for. A change of any property lets the object go.
template <typename UniqueObject>
class TGraphicsObject : public TObject {
  public:
    TColor Color() const { return color_; }
    void SetColor(TColor color) { Store(color_, color); }

  protected:
    explicit TGraphicsObject(TColor color) : color_(color) {}

    template <typename T>
    void Store(T& field, T value) {
        StoreIfChanged(field, value, handle_);
    }

    TColor color_;
    mutable UniqueObject handle_;
};

enum class TBrushStyle : uint8_t { bsSolid, bsClear };

class TBrush : public TGraphicsObject<UniqueBrush> {
  public:
    TBrush() : TGraphicsObject(clWhite) {}
    TBrushStyle Style() const { return style_; }
    void SetStyle(TBrushStyle style) { Store(style_, style); }
    HBRUSH Handle() const;  // a null brush for bsClear

  private:
    TBrushStyle style_ = TBrushStyle::bsSolid;
};

enum class TPenStyle : uint8_t { psSolid, psDash, psDot, psClear };

class TPen : public TGraphicsObject<UniquePen> {
  public:
    TPen() : TGraphicsObject(clBlack) {}
    int Width() const { return width_; }
    void SetWidth(int width) { Store(width_, width); }
    TPenStyle Style() const { return style_; }
    void SetStyle(TPenStyle style) { Store(style_, style); }
    HPEN Handle() const;

  private:
    int width_ = 1;
    TPenStyle style_ = TPenStyle::psSolid;
};

class TBitmap;

class TCanvas : public TObject {
  public:
    explicit TCanvas(HDC dc = nullptr) : dc_(dc) {}
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    HDC Handle() const { return dc_; }
    void SetHandle(HDC dc) { dc_ = dc; }

    TFont Font;
    TBrush Brush;
    TPen Pen;
    // Raster operation of Draw and CopyRect: SRCCOPY (the default), SRCINVERT, BLACKNESS, ...
    DWORD CopyMode = SRCCOPY;

    // Selects Font, Brush and Pen and sets the text colour and background mode from them until the
    // returned object goes.
    class Selection {
      public:
        explicit Selection(const TCanvas& canvas);
        Selection(const Selection&) = delete;
        Selection& operator=(const Selection&) = delete;
        ~Selection();

      private:
        HDC dc_;
        SelectGuard font_;
        SelectGuard brush_;
        SelectGuard pen_;
        COLORREF textColor_;
        int bkMode_;
        COLORREF bkColor_;
    };
    Selection Select() const { return Selection(*this); }

    // Fills with Brush; no outline.
    void FillRect(const RECT& rect);
    // Outlined with Pen and filled with Brush, as GDI's Rectangle, Ellipse and Pie.
    void Rectangle(int left, int top, int right, int bottom);
    void Ellipse(int left, int top, int right, int bottom);
    void Pie(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    // A frame of 1-pixel lines, top-left colour and bottom-right colour, drawn width times inward;
    // rect shrinks by what was drawn.
    void Frame3D(RECT& rect, TColor topLeft, TColor bottomRight, int width);
    void DrawFocusRect(const RECT& rect);

    // Text in Font at (x, y); the background is Brush's colour unless Brush is bsClear.
    void TextOut(int x, int y, std::string_view text);
    // As TextOut, clipped to rect.
    void TextRect(const RECT& rect, int x, int y, std::string_view text);
    // DrawText with the given DT_ flags; with DT_CALCRECT rect receives the measured rectangle.
    int DrawText(std::string_view text, RECT& rect, UINT format);
    SIZE TextExtent(std::string_view text) const;
    int TextWidth(std::string_view text) const { return TextExtent(text).cx; }
    int TextHeight(std::string_view text) const { return TextExtent(text).cy; }

    // Copies bitmap to (x, y) at its own size with CopyMode.
    void Draw(int x, int y, const TBitmap& bitmap);
    // Copies bitmap to (x, y) leaving out the pixels of colour transparent.
    void DrawTransparent(int x, int y, const TBitmap& bitmap, TColor transparent);
    // Copies source's rectangle to dest (stretching when the sizes differ) with CopyMode.
    void CopyRect(const RECT& dest, const TCanvas& source, const RECT& sourceRect);

    TColor Pixel(int x, int y) const;
    void SetPixel(int x, int y, TColor color);

  private:
    HDC dc_;
};

// Points a control's canvas slot at canvas while the control paints, and back at nothing after.
class TCanvasInUse {
  public:
    TCanvasInUse(TCanvas*& slot, TCanvas& canvas) noexcept : slot_(slot) { slot_ = &canvas; }
    TCanvasInUse(const TCanvasInUse&) = delete;
    TCanvasInUse& operator=(const TCanvasInUse&) = delete;
    ~TCanvasInUse() { slot_ = nullptr; }

  private:
    TCanvas*& slot_;
};

// A bitmap with its own memory DC and canvas. SetSize makes a 32-bit top-down DIB section, so
// pixels can be read back exactly; loading keeps the stored format.
class TBitmap : public TObject {
  public:
    TBitmap();
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;
    ~TBitmap() override;

    int Width() const { return width_; }
    int Height() const { return height_; }
    // A new blank (black) bitmap of the size; the previous picture goes.
    void SetSize(int width, int height);
    void SetWidth(int width) { SetSize(width, height_); }
    void SetHeight(int height) { SetSize(width_, height); }
    bool Empty() const { return !bitmap_; }

    // A bitmap resource of module (nullptr: this program); EResNotFound "Resource %s not found".
    void LoadFromResourceName(HINSTANCE module, const std::string& name);
    // The bytes of a .bmp file (BITMAPFILEHEADER, header, colour table, pixels); EReadError when
    // they are not a well-formed uncompressed bitmap.
    void LoadFromBytes(const std::vector<uint8_t>& bytes);

    HBITMAP Handle() const { return bitmap_.get(); }
    TCanvas& Canvas();
    const TCanvas& Canvas() const { return const_cast<TBitmap*>(this)->Canvas(); }

  private:
    void Adopt(HBITMAP bitmap);

    UniqueBitmap bitmap_;
    UniqueMemDc dc_;
    HGDIOBJ originalBitmap_ = nullptr;
    TCanvas canvas_;
    int width_ = 0;
    int height_ = 0;
};
