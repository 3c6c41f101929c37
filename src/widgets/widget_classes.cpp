#include "widget_classes.h"

#include "directory_list_box.h"
#include "drive_combo_box.h"
#include "gauges.h"
#include "gradient.h"
#include "layout.h"

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
