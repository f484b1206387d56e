#include "support/fake_ui.h"

#include "state/install_state.h"

FakeUi fake_ui;

int ui_message_box(Window, const char* text, const char* caption, uint32_t style) {
  fake_ui.boxes.push_back({text, caption, style});
  if (fake_ui.box_answers.empty()) return kIdOk;
  const int answer = fake_ui.box_answers.front();
  fake_ui.box_answers.pop_front();
  return answer;
}

int ui_overwrite_prompt(Window) {
  fake_ui.prompts.emplace_back(install_state.install_folder);
  if (fake_ui.prompt_answers.empty()) return kAnswerYes;
  const int answer = fake_ui.prompt_answers.front();
  fake_ui.prompt_answers.pop_front();
  return answer;
}

void ui_set_progress(Window, const char* text) {
  fake_ui.progress.emplace_back(text);
}

int32_t ui_main_dialog() {
  if (fake_ui.on_main_dialog) return fake_ui.on_main_dialog();
  return fake_ui.main_dialog_result;
}

int ui_choose_folder(Window, char*) {
  return 0;
}

void drain_messages() {
  ++fake_ui.drains;
  if (fake_ui.cancel_at_drain != 0 && fake_ui.drains == fake_ui.cancel_at_drain) {
    install_state.cancel_requested = 1;
  }
  if (fake_ui.on_drain) fake_ui.on_drain(fake_ui.drains);
}
