// The Win32 front end: the main install dialog, the overwrite prompt, message boxes, the
// progress line and the message pump. The main dialog's commands run the shared logic of
// ui/main_dialog.h; this file only moves values between the controls and install_state.
#include <windows.h>

#include "archive/paths.h"
#include "dialog_ids.h"
#include "state/install_state.h"
#include "texts/messages.h"
#include "ui/main_dialog.h"
#include "ui/ui.h"

namespace {

HINSTANCE instance() {
  return static_cast<HINSTANCE>(install_state.instance_handle);
}

// The folder edit and the Install and Browse buttons are disabled while extracting (the
// dialog ends right after, so they are never enabled again).
void disable_choices(HWND dialog) {
  EnableWindow(GetDlgItem(dialog, IDC_FOLDER_EDIT), FALSE);
  EnableWindow(GetDlgItem(dialog, IDC_INSTALL), FALSE);
  EnableWindow(GetDlgItem(dialog, IDC_BROWSE), FALSE);
}

void cancel(HWND dialog) {
  install_state.cancel_requested = 1;
  EndDialog(dialog, -1);
}

void install(HWND dialog) {
  GetDlgItemTextA(dialog, IDC_FOLDER_EDIT, install_state.install_folder, kPathBufferSize);
  install_state.overwrite_all = IsDlgButtonChecked(dialog, IDC_OVERWRITE_ALL) ? 1 : 0;
  disable_choices(dialog);
  // Cancel stays reachable with the keyboard while the edit and buttons are disabled.
  SetFocus(GetDlgItem(dialog, IDC_CANCEL_INSTALL));
  const int32_t result = main_dialog_install(dialog);
  if (result != kInstallRefused) EndDialog(dialog, result);
}

void browse(HWND dialog) {
  char folder[kWorkPathSize];
  GetDlgItemTextA(dialog, IDC_FOLDER_EDIT, folder, kWorkPathSize);
  if (!ui_choose_folder(dialog, folder)) return;  // cancelled: the edit keeps its text
  main_dialog_browse_result(folder);
  SetDlgItemTextA(dialog, IDC_FOLDER_EDIT, folder);
}

INT_PTR CALLBACK main_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowTextA(dialog, kCaption);
      SetDlgItemTextA(dialog, IDC_INSTRUCTION, kInstructionText);
      if (install_state.overwrite_all) CheckDlgButton(dialog, IDC_OVERWRITE_ALL, BST_CHECKED);
      SetDlgItemTextA(dialog, IDC_FOLDER_EDIT, install_state.install_folder);
      SetFocus(GetDlgItem(dialog, IDC_FOLDER_EDIT));
      SendDlgItemMessageA(dialog, IDC_FOLDER_EDIT, EM_SETSEL, 0, -1);
      return FALSE;  // the focus has been set here
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        // While an extraction runs (its messages are pumped through drain_messages), a
        // second Install or a Browse must not touch install_folder: both are ignored.
        case IDC_INSTALL:
          if (!main_dialog_installing()) install(dialog);
          return TRUE;
        case IDC_CANCEL_INSTALL:
          cancel(dialog);
          return TRUE;
        case IDC_BROWSE:
          if (!main_dialog_installing()) browse(dialog);
          return TRUE;
        default:
          return FALSE;  // IDOK, and the IDCANCEL of Escape, do nothing
      }
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) == SC_CLOSE) {  // close box, Alt+F4, system menu
        cancel(dialog);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK overwrite_prompt_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) {
    SetWindowTextA(dialog, kCaption);
    format_text(message_text, sizeof message_text, kOverwriteQuestion,
                install_state.install_folder);
    SetDlgItemTextA(dialog, IDC_PROMPT_QUESTION, message_text);
    return TRUE;  // the dialog manager focuses the first tab stop, Yes
  }
  if (message == WM_COMMAND) {
    const WORD id = LOWORD(wparam);
    if (id == IDC_PROMPT_YES || id == IDC_PROMPT_NO || id == IDC_PROMPT_YES_TO_ALL)
      EndDialog(dialog, id);
  }
  return FALSE;
}

}  // namespace

int32_t ui_main_dialog() {
  return static_cast<int32_t>(
      DialogBoxParamA(instance(), MAKEINTRESOURCEA(IDD_MAIN), nullptr, main_dialog_proc, 0));
}

int ui_overwrite_prompt(Window owner) {
  return static_cast<int>(DialogBoxParamA(instance(), MAKEINTRESOURCEA(IDD_OVERWRITE),
                                          static_cast<HWND>(owner), overwrite_prompt_proc, 0));
}

int ui_message_box(Window owner, const char* text, const char* caption, uint32_t style) {
  return MessageBoxA(static_cast<HWND>(owner), text, caption, style);
}

void ui_set_progress(Window owner, const char* text) {
  SetDlgItemTextA(static_cast<HWND>(owner), IDC_NOTICE, text);
}

void drain_messages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}
