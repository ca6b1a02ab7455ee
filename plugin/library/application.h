// The application object the plug-in's windows use. A host may store its
// own through RegisterApplication before Execute; otherwise the library
// makes one the first time it is needed: with the toolkit backend a build
// registers (see SetApplicationFactory), else headless.
//
// A headless window has no screen and no user: its menu commands come from
// the environment variable PLANORA_HEADLESS_SCRIPT, a list separated by ';'
// of menu item names ("Vorschau1;Fertigstellen1") and dialog answers
// ("ok", "abort", "cancel", "yes", "no"), taken in order; message boxes are
// written to standard error. A window left with nothing to do is given up
// (Execute returns 0). Automated hosts and tests drive the plug-in this way.
#pragma once

#include <functional>

#include "platform/forms.h"

namespace planora {

// Makes the application object if there is none yet.
void EnsureApplication();

// A backend that can show real windows registers how to make its
// application object; the factory returns nullptr when it cannot (no
// display), and the headless one is made instead.
void SetApplicationFactory(std::function<TApplication*()> factory);

}  // namespace planora
