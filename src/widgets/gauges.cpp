#include "widgets/gauges.h"

#include <oleacc.h>

#include <cstdint>

#include "framework/accessible.h"
#include "framework/exceptions.h"
#include "framework/published.h"
#include "framework/sysutils.h"

TGauge::TGauge(TComponent* owner) : TGraphicControl(owner) {
    controlStyle_ |= csOpaque | csFramed;
    SetBounds(Left(), Top(), 100, 100);
}

void TGauge::SetMinValue(int32_t value) {
    if (value == minValue_) {
        return;
    }
    if (value > maxValue_) {
        // The bounds the message has always named; the maximum itself is accepted as well.
        throw EInvalidOperation(
            Format(msg::kOutOfRange, -2147483647, static_cast<int>(static_cast<int64_t>(maxValue_) - 1)));
    }
    const int before = Percentage();
    minValue_ = value;
    if (progress_ < value) {
        progress_ = value;
    }
    Refresh();
    PercentageChanged(before);
}

void TGauge::SetMaxValue(int32_t value) {
    if (value == maxValue_) {
        return;
    }
    if (value < minValue_) {
        throw EInvalidOperation(
            Format(msg::kOutOfRange, static_cast<int>(static_cast<int64_t>(minValue_) + 1), 2147483647));
    }
    const int before = Percentage();
    maxValue_ = value;
    if (progress_ > value) {
        progress_ = value;
    }
    Refresh();
    PercentageChanged(before);
}

void TGauge::SetProgress(int32_t value) {
    const int before = Percentage();
    if (value < minValue_) {
        value = minValue_;
    } else if (value > maxValue_) {
        value = maxValue_;
    }
    if (value == progress_) {
        return;
    }
    progress_ = value;
    if (Percentage() != before) {
        Refresh();  // paints at once: the caller may be busy and dispatching no messages
        PercentageChanged(before);
    }
}

void TGauge::PercentageChanged(int before) {
    if (Percentage() != before) {
        NotifyAccessibleChange(*this, EVENT_OBJECT_VALUECHANGE);
    }
}

long TGauge::AccessibleRole() const {
    return ROLE_SYSTEM_PROGRESSBAR;
}

std::string TGauge::AccessibleName() const {
    const TControl* label = LabelAbove(*this);
    return label != nullptr ? label->AccessibleName() : std::string();
}

std::string TGauge::AccessibleValue() const {
    return Format("%d%%", Percentage());
}

void TGauge::Paint() {
    GaugeLook look;
    look.kind = kind_;
    look.bordered = borderStyle_ == TBorderStyle::bsSingle;
    look.showText = showText_;
    const bool highContrast = HighContrastOn();
    look.foreColor = ColorToRGB(highContrast ? clHighlight : foreColor_);
    look.backColor = ColorToRGB(highContrast ? clWindow : backColor_);
    look.color = ColorToRGB(highContrast ? clBtnFace : Color());
    look.font = Font().Handle();
    look.percentage = Percentage();
    PaintGauge(Canvas()->Handle(), Width(), Height(), look);
}

namespace {

constexpr std::string_view kKindNames[] = {"gkText", "gkHorizontalBar", "gkVerticalBar", "gkPie", "gkNeedle"};
constexpr std::string_view kBorderStyleNames[] = {"bsNone", "bsSingle"};

constexpr TPublishedProperty<TGauge> kGaugeProperties[] = {
    {"Kind", Setter<&TGauge::SetKind, ReadEnum<TGaugeKind, kKindNames>>},
    {"ShowText", Setter<&TGauge::SetShowText, ReadBoolean>},
    {"BorderStyle", Setter<&TGauge::SetBorderStyle, ReadEnum<TBorderStyle, kBorderStyleNames>>},
    {"ForeColor", Setter<&TGauge::SetForeColor, ReadColor>},
    {"BackColor", Setter<&TGauge::SetBackColor, ReadColor>},
    {"MinValue", Setter<&TGauge::SetMinValue, ReadInteger>},
    {"MaxValue", Setter<&TGauge::SetMaxValue, ReadInteger>},
    {"Progress", Setter<&TGauge::SetProgress, ReadInteger>},
};

}  // namespace

bool TGauge::SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) {
    // Of the control's own properties, no caption and no click event.
    return SetPublished(*this, kGaugeProperties, name, value, context) ||
           (IsPublished(name, {"Name", "Left", "Top", "Width", "Height", "Visible", "Enabled", "Color",
                               "ParentColor", "Font.", "ParentFont", "Align", "Tag"}) &&
            TGraphicControl::SetProperty(name, value, context));
}
