#include "widgets/gradient_drawing.h"

#include <cmath>
#include <string>

#include "framework/color.h"
#include "framework/exceptions.h"
#include "framework/registry.h"
#include "framework/sysutils.h"
#include "framework/unique_handle.h"

ColorComponents ParseColorText(std::string_view text) {
    int numbers[3] = {0, 0, 0};
    size_t pos = 0;
    for (int& number : numbers) {
        while (pos < text.size()) {
            const char c = text[pos++];
            if (c == ' ') {
                break;  // the space that ends a number is consumed with it
            }
            if (c < '0' || c > '9') {
                throw EConvertError(Format(msg::kInvalidInteger, std::string(1, c).c_str()));
            }
            // Wraps rather than overflows on absurdly long texts; only the low 8 bits are used.
            number = static_cast<int>(static_cast<unsigned>(number) * 10u + static_cast<unsigned>(c - '0'));
        }
    }
    return ColorComponents{numbers[0], numbers[1], numbers[2]};
}

const char* SystemColorValueName(int index) {
    static constexpr const char* kNames[] = {
        "Background",     "ActiveTitle",   "InactiveTitle",     "Menu",
        "Window",         "WindowFrame",   "MenuText",          "WindowText",
        "TitleText",      "ActiveBorder",  "InactiveBorder",    "AppWorkspace",
        "Highlight",      "HighlightText", "ButtonFace",        "ButtonShadow",
        "GrayText",       "ButtonText",    "InactiveTitleText", "ButtonHilight",
        "ButtonDkShadow", "ButtonLight",   "InfoText",          "InfoWindow",
    };
    if (index < 1 || index > 24) {
        return nullptr;
    }
    return kNames[index - 1];
}

ColorComponents ColorToComponents(uint32_t color) {
    if (color >= SystemColor(1) && color <= SystemColor(24)) {
        const char* valueName = SystemColorValueName(static_cast<int>(color & 0xFF));
        TRegistry registry;
        if (registry.OpenKey("Control Panel\\Colors", false)) {
            const std::string text = registry.ReadString(valueName);
            if (!text.empty()) {
                return ParseColorText(text);
            }
        }
    }
    return ColorComponents{static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                           static_cast<int>((color >> 16) & 0xFF)};
}

namespace {

COLORREF PackLowBytes(const ColorComponents& c) {
    return RGB(c.red & 0xFF, c.green & 0xFF, c.blue & 0xFF);
}

}  // namespace

GradientPalette BuildGradientPalette(uint32_t start, uint32_t end, bool swap) {
    const COLORREF last = PackLowBytes(ColorToComponents(end));
    const COLORREF first = PackLowBytes(ColorToComponents(start));
    const COLORREF from = swap ? last : first;
    const COLORREF to = swap ? first : last;

    GradientPalette palette{};
    palette[0] = from;
    palette[255] = to;
    const int fromChannel[3] = {GetRValue(from), GetGValue(from), GetBValue(from)};
    const int toChannel[3] = {GetRValue(to), GetGValue(to), GetBValue(to)};
    int step[3];
    int accumulator[3];
    for (int c = 0; c < 3; ++c) {
        // (from - to) x 10000 / 255 rounded to nearest; an exact half cannot occur since 255 is odd.
        step[c] = static_cast<int>(std::lround((fromChannel[c] - toChannel[c]) * 10000 / 255.0));
        accumulator[c] = fromChannel[c] * 10000;
    }
    for (int i = 1; i <= 254; ++i) {
        int channel[3];
        for (int c = 0; c < 3; ++c) {
            accumulator[c] -= step[c];
            channel[c] = accumulator[c] / 10000;
        }
        palette[static_cast<size_t>(i)] = RGB(channel[0], channel[1], channel[2]);
    }
    return palette;
}

float GradientStep(int extent) {
    return static_cast<float>(static_cast<long double>(extent) * (1.0L / 255.0L));
}

int GradientBandThickness(float step) {
    return static_cast<int>(std::trunc(static_cast<long double>(step) + 1.0L));
}

int GradientBandStart(int index, float step) {
    if (index == 0) {
        return 0;
    }
    return static_cast<int>(std::trunc(static_cast<long double>(index - 1) * static_cast<long double>(step)));
}

void PaintGradient(HDC dc, int width, int height, TGradDirection direction, const GradientPalette& palette) {
    const bool across = direction == gdLeftRight;
    const float step = GradientStep(across ? width : height);
    const int thickness = GradientBandThickness(step);
    for (int i = 0; i < 256; ++i) {
        const int start = GradientBandStart(i, step);
        const RECT band =
            across ? RECT{start, 0, start + thickness, height} : RECT{0, start, width, start + thickness};
        UniqueBrush brush(::CreateSolidBrush(palette[static_cast<size_t>(i)]));
        ::FillRect(dc, &band, brush.get());  // FillRect takes the brush itself: no selection needed
    }
}
