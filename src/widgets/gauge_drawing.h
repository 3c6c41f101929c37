// The progress gauge's arithmetic and its off-screen painting, apart from the control that owns
// them: the control (gauges.h) keeps the properties and calls PaintGauge with what they say.
#pragma once

#include <windows.h>

#include <cstdint>

#include "framework/graphics.h"

enum TGaugeKind : uint8_t { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };

// The whole-number percentage of progress within minValue..maxValue, truncated toward zero; 0 for
// an empty range. Never overflows: the product is formed in 64 bits.
int GaugePercentage(int32_t minValue, int32_t maxValue, int32_t progress);

// The length in pixels that percentage covers of extent: percentage x 0.01 x extent in 80-bit
// extended precision, truncated toward zero. The extended 0.01 lies just below 0.01, so where
// extent x percentage is a multiple of 100 the length can come out one pixel short (5% of 20 is 0,
// 99% of 100 is 98); bars are drawn that way.
int GaugeExtent(int percentage, int extent);

// The paint rectangle: the control's area, less a one-pixel ring when bordered.
RECT GaugePaintRect(int width, int height, bool bordered);

// The point that the pie's wedge starts from (the radial through it), for a bounding box of
// half-width halfWidth and half-height halfHeight: angle (percentage x 0.02 + 0.5) x pi.
POINT PieStartPoint(int percentage, int halfWidth, int halfHeight);

// The outer end of the needle: angle percentage x 0.01 x pi about (centreX, baseY), to the left at
// 0%, up at 50%, to the right at 100%.
POINT NeedleTip(int percentage, int centreX, int baseY);

// Where the percentage text starts: centred on the paint rectangle's size, measured from the
// bitmap's origin (not from the paint rectangle's corner).
POINT GaugeTextOrigin(const RECT& paint, SIZE text);

// A bitmap that can take the size of another: the gauge's off-screen pictures.
class TBltBitmap : public TBitmap {
  public:
    // Takes the template's width, then its height, and fills itself with the window-frame colour.
    void MakeLike(const TBitmap& templateBitmap);
};

// Everything one paint needs. Colours are plain RGB values (COLORREF); the font is not owned.
struct GaugeLook {
    TGaugeKind kind = gkHorizontalBar;
    bool bordered = true;
    bool showText = true;
    COLORREF foreColor = RGB(0, 0, 0);
    COLORREF backColor = RGB(255, 255, 255);
    COLORREF color = RGB(192, 192, 192);  // the corners around a pie or needle dial
    HFONT font = nullptr;                 // nullptr: the DC's default font
    int percentage = 0;
};

// Paints the whole gauge of width x height off-screen and copies it to dc at (0, 0) in one
// operation: the picture of the kind is drawn on a black overlay and XORed into a black image, the
// white text on a third black bitmap XORed over it. Every bitmap made on the way is freed, also
// when a step raises (EOutOfMemory when a bitmap cannot be made).
void PaintGauge(HDC dc, int width, int height, const GaugeLook& look);
