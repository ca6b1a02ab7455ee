// The run's user interface as the tests see it: every call is recorded in
// order, and the answers (nearest pixel or blend) and the message loop's
// side effects are the test's to choose.
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "engine/rectify.h"

namespace planora::test {

struct TTestUi : TRectifyUi {
  // Every call in order: begin, end, "progress N", messages, corners,
  // shown / not shown.
  std::vector<std::string> log;
  std::vector<int> progress;
  int messages = 0, nearestAsked = 0;
  // Asked with the number of earlier questions; the nearest pixel unless told.
  std::function<bool(int)> nearest = [](int) { return true; };
  std::function<void()> onMessages = [] {};
  double corners[4][2] = {};

  void BeginRun() override { log.push_back("begin"); }
  void EndRun() override { log.push_back("end"); }
  void SetProgress(int p) override {
    progress.push_back(p);
    log.push_back("progress " + std::to_string(p));
  }
  void ProcessMessages() override {
    ++messages;
    log.push_back("messages");
    onMessages();
  }
  bool NearestOnly() override { return nearest(nearestAsked++); }
  void CornersUsed(const double c[4][2]) override {
    log.push_back("corners");
    std::copy(&c[0][0], &c[0][0] + 8, &corners[0][0]);
  }
  void PreviewShownChanged(bool shown) override { log.push_back(shown ? "shown" : "not shown"); }

  // The run's frame: the log without progress and messages.
  std::vector<std::string> Events() const {
    std::vector<std::string> e;
    for (const std::string& s : log)
      if (s != "messages" && s.rfind("progress ", 0) != 0) e.push_back(s);
    return e;
  }
};

}  // namespace planora::test
