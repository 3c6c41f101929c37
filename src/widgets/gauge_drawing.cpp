#include "widgets/gauge_drawing.h"

#include <cmath>
#include <numbers>
#include <string>

#include "framework/exceptions.h"
#include "framework/sysutils.h"
#include "framework/unique_handle.h"

int GaugePercentage(int32_t minValue, int32_t maxValue, int32_t progress) {
    const int64_t span = int64_t{maxValue} - minValue;
    if (span == 0) {
        return 0;
    }
    return static_cast<int>((int64_t{progress} - minValue) * 100 / span);
}

int GaugeExtent(int percentage, int extent) {
    // Two roundings in extended precision, exactly as the bar has always been measured: first the
    // fraction, then the pixels. volatile keeps the compiler from folding the two into one.
    volatile long double fraction = static_cast<long double>(percentage) * 0.01L;
    const long double pixels = fraction * static_cast<long double>(extent);
    return static_cast<int>(std::trunc(pixels));
}

RECT GaugePaintRect(int width, int height, bool bordered) {
    RECT paint{0, 0, width, height};
    if (bordered) {
        ::InflateRect(&paint, -1, -1);
    }
    return paint;
}

namespace {

// The angle is worked out in extended precision and kept as a double, as the drawing code has
// always stored it; the point is then rounded to nearest, ties to even (the FPU's default).
int RoundToEven(long double value) {
    return static_cast<int>(std::llrint(value));
}

}  // namespace

POINT PieStartPoint(int percentage, int halfWidth, int halfHeight) {
    const double angle = static_cast<double>((percentage * 0.02L + 0.5L) * std::numbers::pi_v<long double>);
    const long double a = angle;
    return POINT{RoundToEven((1 - std::cos(a)) * halfWidth), RoundToEven((1 - std::sin(a)) * halfHeight)};
}

POINT NeedleTip(int percentage, int centreX, int baseY) {
    const double angle = static_cast<double>(percentage * 0.01L * std::numbers::pi_v<long double>);
    const long double a = angle;
    return POINT{RoundToEven((1 - std::cos(a)) * centreX), RoundToEven((1 - std::sin(a)) * baseY)};
}

POINT GaugeTextOrigin(const RECT& paint, SIZE text) {
    return POINT{(paint.right - paint.left + 1 - text.cx) / 2, (paint.bottom - paint.top + 1 - text.cy) / 2};
}

namespace {

// Clears a bitmap to black over its whole area: what a picture leaves untouched is the border.
void ClearToBlack(TBitmap& bitmap) {
    ::PatBlt(bitmap.Canvas().Handle(), 0, 0, bitmap.Width(), bitmap.Height(), BLACKNESS);
}

void FillSolid(HDC dc, const RECT& rect, COLORREF color) {
    UniqueBrush brush(::CreateSolidBrush(color));
    ::FillRect(dc, &rect, brush.get());
}

// Pen and brush of one drawing step, selected for as long as the object lives.
class PenAndBrush {
  public:
    PenAndBrush(HDC dc, COLORREF penColor, COLORREF brushColor)
        : pen_(::CreatePen(PS_SOLID, 1, penColor)),
          brush_(::CreateSolidBrush(brushColor)),
          selectPen_(dc, pen_.get()),
          selectBrush_(dc, brush_.get()) {}

  private:
    UniquePen pen_;
    UniqueBrush brush_;
    SelectGuard selectPen_;
    SelectGuard selectBrush_;
};

void DrawBar(HDC dc, const RECT& paint, const GaugeLook& look) {
    const int w = paint.right - paint.left + 1;
    const int h = paint.bottom - paint.top + 1;
    FillSolid(dc, paint, look.backColor);
    if (look.kind == gkHorizontalBar) {
        int length = GaugeExtent(look.percentage, w);
        if (length > w) {
            length = w;
        }
        if (length > 0) {
            FillSolid(dc, RECT{paint.left, paint.top, paint.left + length, paint.top + h}, look.foreColor);
        }
    } else {
        int length = GaugeExtent(look.percentage, h);
        if (length >= h) {
            length = h - 1;
        }
        // Measured from the bitmap's top rather than the paint rectangle's; the bitmap clips the rest.
        FillSolid(dc, RECT{paint.left, h - length, paint.left + w, h - length + h}, look.foreColor);
    }
}

void DrawPie(HDC dc, const RECT& paint, const GaugeLook& look) {
    const int extra = look.bordered ? 1 : 0;
    const int w = paint.right - paint.left + extra;
    const int h = paint.bottom - paint.top + extra;
    FillSolid(dc, paint, look.color);
    {
        PenAndBrush tools(dc, look.foreColor, look.backColor);
        ::Ellipse(dc, paint.left, paint.top, w, h);
    }
    if (look.percentage >= 1) {
        PenAndBrush tools(dc, look.foreColor, look.foreColor);
        const POINT start = PieStartPoint(look.percentage, w / 2, h / 2);
        ::Pie(dc, paint.left, paint.top, w, h, start.x, start.y, w / 2, 0);
    }
}

void DrawNeedle(HDC dc, int width, const RECT& paint, const GaugeLook& look) {
    const int extra = look.bordered ? 1 : 0;
    const int w = paint.right - paint.left + extra;
    const int h = paint.bottom - paint.top + extra;
    FillSolid(dc, paint, look.color);
    PenAndBrush tools(dc, look.foreColor, look.backColor);
    ::Pie(dc, paint.left, paint.top, w, 2 * h - 1, paint.left + w, paint.bottom - 1, paint.left,
          paint.bottom - 1);
    ::MoveToEx(dc, paint.left, paint.bottom, nullptr);
    ::LineTo(dc, paint.left + w, paint.bottom);
    if (look.percentage >= 1) {
        const int centreX = width / 2;
        const POINT tip = NeedleTip(look.percentage, centreX, paint.bottom - 1);
        ::MoveToEx(dc, centreX, paint.bottom - 1, nullptr);
        ::LineTo(dc, tip.x, tip.y);
    }
}

// White text on black, combined into the image by XOR: each text pixel inverts what lies under it.
void DrawPercentText(TBitmap& image, const RECT& paint, const GaugeLook& look) {
    const std::string text = Format("%d%%", look.percentage);
    TBltBitmap textBitmap;
    textBitmap.MakeLike(image);
    ClearToBlack(textBitmap);
    const HDC dc = textBitmap.Canvas().Handle();
    const HFONT font =
        look.font != nullptr ? look.font : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    SelectGuard selectFont(dc, font);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, RGB(255, 255, 255));
    SIZE extent{};
    ::GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &extent);
    const POINT origin = GaugeTextOrigin(paint, extent);
    ::ExtTextOutA(dc, origin.x, origin.y, ETO_CLIPPED, &paint, text.data(), static_cast<UINT>(text.size()),
                  nullptr);
    ::BitBlt(image.Canvas().Handle(), 0, 0, image.Width(), image.Height(), dc, 0, 0, SRCINVERT);
}

}  // namespace

void TBltBitmap::MakeLike(const TBitmap& templateBitmap) {
    SetWidth(templateBitmap.Width());
    SetHeight(templateBitmap.Height());
    Canvas().Brush.SetColor(clWindowFrame);
    Canvas().Brush.SetStyle(TBrushStyle::bsSolid);
    Canvas().FillRect(RECT{0, 0, Width(), Height()});
}

void PaintGauge(HDC dc, int width, int height, const GaugeLook& look) {
    if (width <= 0 || height <= 0) {
        return;  // nothing to show, and no bitmap can be made of that size
    }
    TBitmap image;
    image.SetSize(width, height);
    ClearToBlack(image);
    const RECT paint = GaugePaintRect(width, height, look.bordered);
    {
        TBltBitmap overlay;
        overlay.MakeLike(image);
        ClearToBlack(overlay);
        const HDC overlayDc = overlay.Canvas().Handle();
        switch (look.kind) {
            case gkText:
                FillSolid(overlayDc, paint, look.backColor);
                break;
            case gkHorizontalBar:
            case gkVerticalBar:
                DrawBar(overlayDc, paint, look);
                break;
            case gkPie:
                DrawPie(overlayDc, paint, look);
                break;
            case gkNeedle:
                DrawNeedle(overlayDc, width, paint, look);
                break;
        }
        // The image is black, so XOR makes it a copy of the overlay.
        ::BitBlt(image.Canvas().Handle(), 0, 0, width, height, overlayDc, 0, 0, SRCINVERT);
    }
    if (look.showText) {
        DrawPercentText(image, paint, look);
    }
    ::BitBlt(dc, 0, 0, width, height, image.Canvas().Handle(), 0, 0, SRCCOPY);
}
