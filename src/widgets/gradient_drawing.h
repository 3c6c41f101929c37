// The gradient background's colour work and band layout, apart from the control that owns them:
// the palette is worked out when a property changes, painting only places 256 bands.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string_view>

enum TGradDirection : uint8_t { gdUpDown, gdLeftRight };

struct ColorComponents {
    int red = 0;
    int green = 0;
    int blue = 0;
};

// The 256 colours of the ramp as plain RGB values (red in the low byte), entry 0 first.
using GradientPalette = std::array<COLORREF, 256>;

// Parses a colour-scheme text of three decimal numbers, each ended by one space or by the end of
// the text ("58 110 165"). Two adjacent spaces end the next number at once with the value 0;
// missing numbers stay 0 and text after the third is ignored. A character other than a digit or a
// space raises EConvertError "'<c>' is not a valid integer value".
ColorComponents ParseColorText(std::string_view text);

// The value name under HKCU\Control Panel\Colors of the system colour with that index, for the
// indexes 1 to 24; nullptr for any other index (0, the scroll bar, has none).
const char* SystemColorValueName(int index);

// A colour's red, green and blue. A system colour of index 1 to 24 (bit 31 set) is looked up in the
// user's colour scheme in the registry; without a key, value or text there, and for every other
// colour, the components are the colour's own three low bytes (a system colour thus gives red =
// its index). A value that is not text raises ERegistryException, a bad text EConvertError.
ColorComponents ColorToComponents(uint32_t color);

// The ramp from start to end (exchanged with swap): entry 0 and 255 are the ends, the entries
// between step down from the first by (first - last) x 10000 / 255 per channel in fixed point.
// Only the low 8 bits of each component count.
GradientPalette BuildGradientPalette(uint32_t start, uint32_t end, bool swap);

// The band layout along an extent (the height for gdUpDown, the width for gdLeftRight): the step
// is extent / 255 kept as a 32-bit float, every band is step + 1 pixels thick (truncated), band 0
// and band 1 start at 0 and band i at (i - 1) x step (truncated).
float GradientStep(int extent);
int GradientBandThickness(float step);
int GradientBandStart(int index, float step);

// Paints the 256 bands over the area (0, 0, width, height) of dc.
void PaintGradient(HDC dc, int width, int height, TGradDirection direction, const GradientPalette& palette);
