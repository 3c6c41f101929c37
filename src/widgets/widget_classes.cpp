#include "widgets/widget_classes.h"

#include "framework/layout.h"
#include "widgets/directory_list_box.h"
#include "widgets/drive_combo_box.h"
#include "widgets/gauges.h"
#include "widgets/gradient.h"

void RegisterWidgetClasses() {
    static const bool registered = [] {
        RegisterComponentClass<TGauge>("TGauge");
        RegisterComponentClass<TGradient>("TGradient");
        RegisterComponentClass<TDriveComboBox>("TDriveComboBox");
        RegisterComponentClass<TDirectoryListBox>("TDirectoryListBox");
        return true;
    }();
    (void)registered;
}
