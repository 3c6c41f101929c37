#include "widgets/gradient.h"

#include "framework/sysutils.h"

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
        SetColorStart(value.AsColor());
    } else if (SameTextAscii(name, "ColorEnd")) {
        SetColorEnd(value.AsColor());
    } else if (SameTextAscii(name, "Direction")) {
        SetDirection(value.AsEnum<TGradDirection>({"gdUpDown", "gdLeftRight"}));
    } else if (SameTextAscii(name, "Swap")) {
        SetSwap(value.AsBoolean());
    } else if (IsPublished(name, {"Name", "Left", "Top", "Width", "Height", "Tag"})) {
        return TGraphicControl::SetProperty(name, value, context);
    } else {
        return false;  // the alignment to the client area, among others, stays fixed
    }
    return true;
}
