// The controls of a progress window under the names its layout gives them. The setup's extraction
// window and the uninstaller's removal window look the same and hold these alike.
#pragma once

class TGauge;
class TLabel;
class TPanel;

struct TProgressControls {
    TPanel* Panel3 = nullptr;  // the frame around the others
    TGauge* Gauge1 = nullptr;  // how far the whole run has come
    TLabel* Label1 = nullptr;  // the item at work
    TLabel* Label2 = nullptr;  // what the window does ("Extracting Files")
};
