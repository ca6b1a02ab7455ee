// The application object the plug-in's windows use. A host may store its
// own through RegisterApplication before Execute; otherwise the library
// makes one the first time it is needed: with the toolkit backend a build
// registers (see SetApplicationFactory) when there is a screen, else
// headless.
//
// Automation: the environment variable PLANORA_SCRIPT lists, separated by
// ';', menu item names ("Vorschau1;Fertigstellen1") and dialog answers
// ("ok", "abort", "cancel", "yes", "no"), carried out in order as if a user
// chose them: a menu item as soon as it can be chosen, an answer on the
// next message box; on a screen, "shot:FILE.png" saves a picture of the
// topmost plug-in window (for documentation). Headless, message boxes are also written to standard
// error, and a window left with nothing to do is given up (Execute returns
// 0). Automated hosts and tests drive the plug-in this way.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "platform/forms.h"

namespace planora {

// Makes the application object if there is none yet.
void EnsureApplication();

// A backend that can show real windows registers how to make its
// application object; the factory returns nullptr when it cannot (no
// screen), and the headless one is made instead.
void SetApplicationFactory(std::function<TApplication*()> factory);

// One step of PLANORA_SCRIPT.
struct TScriptStep {
  std::string MenuItem;  // empty for an answer or a shot
  int Answer = mrNone;
  std::string Shot;  // a picture of the window to save
};
std::deque<TScriptStep> ReadScript();

// The enabled menu item of that name in the topmost window that has it, or
// nullptr (not there yet, or not to be chosen now).
TMenuItem* ChoosableMenuItem(TApplication& app, const std::string& name);

}  // namespace planora
