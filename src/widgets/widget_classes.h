// Makes the widgets known to the layout reader, so that stored windows can hold them: TGauge,
// TGradient, TDriveComboBox and TDirectoryListBox. Safe to call more than once.
#pragma once

void RegisterWidgetClasses();
