#include "widgets/gradient.h"

#include "framework/accessible.h"
#include "framework/published.h"

TGradient::TGradient(TComponent* owner) : TGraphicControl(owner) {
    SetAlign(TAlign::alClient);
    palette_ = BuildGradientPalette(colorStart_, colorEnd_, swap_);
}

void TGradient::PropertyChanged() {
    palette_ = BuildGradientPalette(colorStart_, colorEnd_, swap_);
    Repaint();
}

void TGradient::Paint() {
    if (HighContrastOn()) {
        // The theme's own background instead of the bands, so that the texts on it stay readable.
        Canvas()->Brush.SetColor(clBtnFace);
        Canvas()->FillRect(RECT{0, 0, Width(), Height()});
        return;
    }
    PaintGradient(Canvas()->Handle(), Width(), Height(), direction_, palette_);
}

namespace {

constexpr std::string_view kDirectionNames[] = {"gdUpDown", "gdLeftRight"};

constexpr TPublishedProperty<TGradient> kGradientProperties[] = {
    {"ColorStart", Setter<&TGradient::SetColorStart, ReadColor>},
    {"ColorEnd", Setter<&TGradient::SetColorEnd, ReadColor>},
    {"Direction", Setter<&TGradient::SetDirection, ReadEnum<TGradDirection, kDirectionNames>>},
    {"Swap", Setter<&TGradient::SetSwap, ReadBoolean>},
};

}  // namespace

bool TGradient::SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) {
    // The alignment to the client area, among others, stays fixed.
    return SetPublished(*this, kGradientProperties, name, value, context) ||
           (IsPublished(name, {"Name", "Left", "Top", "Width", "Height", "Tag"}) &&
            TGraphicControl::SetProperty(name, value, context));
}
