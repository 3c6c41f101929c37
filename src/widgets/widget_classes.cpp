#include "widgets/widget_classes.h"

#include "framework/layout.h"
#include "widgets/directory_list_box.h"
#include "widgets/drive_combo_box.h"
#include "widgets/gauges.h"
#include "widgets/gradient.h"

namespace {

constexpr TComponentClass kWidgetClasses[] = {
    ComponentClass<TGauge>("TGauge"), ComponentClass<TGradient>("TGradient"),
    ComponentClass<TDriveComboBox>("TDriveComboBox"), ComponentClass<TDirectoryListBox>("TDirectoryListBox")};

}  // namespace

void RegisterWidgetClasses() {
    RegisterComponentClassesOnce<kWidgetClasses>();
}
