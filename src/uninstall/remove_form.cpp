#include "uninstall/remove_form.h"

#include "framework/application.h"
#include "widgets/gauges.h"

TfrmRemove::TfrmRemove(TComponent* owner) : TForm(owner) {
    ReadLayout("FRMREMOVE");
    Panel3 = FindField<TPanel>("Panel3");
    Gauge1 = FindField<TGauge>("Gauge1");
    Label1 = FindField<TLabel>("Label1");
    Label2 = FindField<TLabel>("Label2");
    DoCreate();
}

void TfrmRemove::ShowStep(const std::string& name, int percent) {
    Label1->SetCaption("Removing: " + name);
    Gauge1->SetProgress(percent);
    Application->ProcessMessages();
}
