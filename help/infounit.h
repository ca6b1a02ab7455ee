// TInfoform: the window with the plug-in's version and what it does, opened
// from the "?" menu of the rectification window.
#pragma once

#include "platform/forms.h"

namespace planora {

class TInfoform : public TForm {
 public:
  explicit TInfoform(TApplication* owner);

  TMemo* Memo1;

  // Fills Memo1; called after creating the window and before showing it.
  void setze_sprache();
  // Closing only hides the window: it stays with its owner.
  void FormClose(TObject* Sender, TCloseAction& Action);
};

}  // namespace planora
