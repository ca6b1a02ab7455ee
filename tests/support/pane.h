// A paint box on a form of a headless application, and a plot surface on
// it: a window's pane without a screen, for the tests of what is drawn on
// panes. The screen image is the paint box's.
#pragma once

#include <string>

#include "platform/forms.h"
#include "platform/headless/headless.h"
#include "plot/glib2.h"

namespace planora::test {

struct TTestPane {
  THeadlessWidgetSet ws;
  TApplication app{ws};
  TForm form{&app, "F"};
  TPaintBox* pb;
  TPlottFlaeche s;

  // `attach`: the surface draws on the paint box from the start; a test
  // that attaches a surface of its own (or with a plot file) says false.
  TTestPane(int w, int h, bool attach = true, const std::string& box = "PaintBox1") : pb(form.Add<TPaintBox>(box)) {
    pb->SetBounds(0, 0, w, h);
    if (attach) s.AttachPaintBox(pb, "");
  }
};

}  // namespace planora::test
