#pragma once
// A scripted watcher for tests: records labels, counts pumps, and can press the
// progress windows' buttons after a given number of pumps.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/run_control.h"

namespace quorvex::testing {

class FakeRun : public RunControl {
 public:
  void SetLabel(ProgressWindow window, int label, std::string_view text) override {
    labels[{window, label}] = std::string(text);
    ++label_sets;
  }
  void SetCaption(ProgressWindow window, std::string_view text) override { captions[window] = std::string(text); }
  void ShowWindow(ProgressWindow window) override { shown.push_back(window); }
  void Pump() override {
    ++pumps;
    if (on_pump) on_pump(*this);
  }
  void SleepWhilePaused() override {
    ++sleeps;
    if (on_sleep) on_sleep(*this);
  }
  std::string Label(ProgressWindow window, int label) const {
    auto it = labels.find({window, label});
    return it == labels.end() ? std::string() : it->second;
  }
  std::map<std::pair<ProgressWindow, int>, std::string> labels;
  std::map<ProgressWindow, std::string> captions;
  std::vector<ProgressWindow> shown;
  int pumps = 0, sleeps = 0, label_sets = 0;
  std::function<void(FakeRun&)> on_pump, on_sleep;
};

}  // namespace quorvex::testing
