#include "gradient.h"

#include "property_values.h"
#include "sysutils.h"

TGradient::TGradient(TComponent* owner) : TGraphicControl(owner) {
    SetAlign(TAlign::alClient);
    palette_ = BuildGradientPalette(colorStart_, colorEnd_, swap_);
}

void TGradient::PropertyChanged() {
    palette_ = BuildGradientPalette(colorStart_, colorEnd_, swap_);
    Repaint();
}

void TGradient::SetColorStart(TColor color) {
    colorStart_ = color;
    PropertyChanged();
}

void TGradient::SetColorEnd(TColor color) {
    colorEnd_ = color;
    PropertyChanged();
}

void TGradient::SetDirection(TGradDirection direction) {
    direction_ = direction;
    PropertyChanged();
}

void TGradient::SetSwap(bool swap) {
    swap_ = swap;
    PropertyChanged();
}

void TGradient::Paint() {
    PaintGradient(Canvas()->Handle(), Width(), Height(), direction_, palette_);
}

bool TGradient::SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) {
    if (SameTextAscii(name, "ColorStart")) {
        SetColorStart(ColorProperty(value));
    } else if (SameTextAscii(name, "ColorEnd")) {
        SetColorEnd(ColorProperty(value));
    } else if (SameTextAscii(name, "Direction")) {
        SetDirection(static_cast<TGradDirection>(EnumProperty(value, {"gdUpDown", "gdLeftRight"})));
    } else if (SameTextAscii(name, "Swap")) {
        SetSwap(value.AsBoolean());
    } else if (SameTextAscii(name, "Left") || SameTextAscii(name, "Top") || SameTextAscii(name, "Width") ||
               SameTextAscii(name, "Height") || SameTextAscii(name, "Tag") || SameTextAscii(name, "Name")) {
        return TGraphicControl::SetProperty(name, value, context);
    } else {
        return false;  // nothing else is published: the alignment stays fixed
    }
    return true;
}
