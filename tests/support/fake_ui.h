// A scripted front end for tests: records every box, prompt and progress line, and
// answers from queues the test fills.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/ui.h"

struct FakeUi {
  struct Box {
    std::string text;
    std::string caption;
    uint32_t style;
  };
  std::vector<Box> boxes;
  std::vector<std::string> prompts;  // the path asked about
  std::vector<std::string> progress;
  std::deque<int> box_answers;     // default kIdOk
  std::deque<int> prompt_answers;  // default kAnswerYes
  int drains = 0;
  // Run at the given drain_messages call (1-based), e.g. to press Cancel.
  int cancel_at_drain = 0;
  int32_t main_dialog_result = -1;
  // Called at every drain_messages with its 1-based number, like a dialog command
  // dispatched while the extraction pumps messages.
  std::function<void(int)> on_drain;
  // Called in place of returning main_dialog_result, like the dialog's own commands.
  std::function<int32_t()> on_main_dialog;

  void reset() { *this = FakeUi{}; }
};

extern FakeUi fake_ui;
