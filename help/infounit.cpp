#include "help/infounit.h"

#include "plugin/versionsinfo.h"

namespace planora {

TInfoform::TInfoform(TApplication* owner) : TForm(owner, "Infoform") {
  SetCaption("Infoform");
  SetBounds(400, 424, 435, 271);
  SetPosition(poDefaultPosOnly);
  SetFont(TFont{"MS Sans Serif", -11});
  SetColor(clBtnFace);
  Memo1 = Add<TMemo>("Memo1");
  Memo1->SetBounds(8, 8, 401, 217);
  Memo1->SetScrollBars(ssBoth);
  Memo1->SetWantReturns(false);
  for (int i = 0; i < 24; ++i) Memo1->Add("");
  OnClose = [this](TObject* Sender, TCloseAction& Action) { FormClose(Sender, Action); };
}

void TInfoform::setze_sprache() {
  Memo1->Clear();
  // ModuleVersion begins with a blank of its own.
  Memo1->Add("Version: " + ModuleVersion());
  Memo1->Add(" ");
  Memo1->Add("Plugin for Pictoria:");
  Memo1->Add("Transformation so that the selected polygon is rectangular");
  Memo1->Add(" ");
  Memo1->Add("Written by the Planora developers.");
  Memo1->Add("Contact: planora-developers@example.org");
}

void TInfoform::FormClose(TObject* /*Sender*/, TCloseAction& Action) { Action = caHide; }

}  // namespace planora
