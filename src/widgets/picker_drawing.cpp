#include "widgets/picker_drawing.h"

void DrawPictureTransparent(TCanvas& canvas, int x, int y, const TBitmap& picture) {
    if (picture.Empty()) {
        return;
    }
    const TColor transparent = picture.Canvas().Pixel(0, picture.Height() - 1);
    canvas.DrawTransparent(x, y, picture, transparent);
}

int FontCharacterHeight(const TFont& font) {
    WindowDc screen(nullptr);
    SelectGuard selectFont(screen.get(), font.Handle());
    TEXTMETRICA metrics{};
    ::GetTextMetricsA(screen.get(), &metrics);
    return metrics.tmHeight;
}
