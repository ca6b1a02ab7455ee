// TBedienung_kurz: the window with the short instructions for use, opened
// from the "?" menu of the rectification window.
#pragma once

#include <string>

#include "platform/forms.h"

namespace planora {

class TBedienung_kurz : public TForm {
 public:
  explicit TBedienung_kurz(TApplication* owner);

  TMemo* Memo1;

  // Fills Memo1 with the instructions.
  void FormCreate(TObject* Sender);
};

}  // namespace planora
