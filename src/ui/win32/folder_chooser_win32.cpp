// The folder chooser in its two forms: the shell's folder browser on Windows 95 / NT 4 and
// later, and before them the common file dialog with template 3, whose hook turns the
// folder the user opened into a file name ("x") that the dialog accepts.
#include <windows.h>

#include <cderr.h>
#include <commdlg.h>
#include <dlgs.h>
#include <shlobj.h>

#include "archive/paths.h"
#include "dialog_ids.h"
#include "state/install_state.h"
#include "ui/main_dialog.h"
#include "ui/ui.h"

namespace {

constexpr char kBrowseTitle[] = "Select a folder for installation of Zarpex.";
// One filter: the description " " and the pattern "x", then the list's empty end.
constexpr char kFilter[] = " \0x\0";

// Preselects the folder named by the caller's text.
int CALLBACK browse_callback(HWND window, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED) SendMessageA(window, BFFM_SETSELECTIONA, TRUE, data);
  return 0;
}

void copy_current_folder(HWND dialog) {
  char folder[kWorkPathSize];
  GetDlgItemTextA(dialog, stc1, folder, kWorkPathSize);
  SetDlgItemTextA(dialog, IDC_SELECTED_FOLDER, folder);
}

// Keeps control 111 on the folder last opened, and on OK hands the dialog the selected
// folder with the file name "x" behind it.
UINT_PTR CALLBACK folder_hook(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) {
    copy_current_folder(dialog);
  } else if (message == WM_COMMAND) {
    if (LOWORD(wparam) == IDOK) {
      char name[kPathBufferSize];
      GetDlgItemTextA(dialog, IDC_SELECTED_FOLDER, name, kWorkPathSize);
      chooser_file_name(name);
      SetDlgItemTextA(dialog, edt1, name);
    } else if (HIWORD(wparam) == EN_CHANGE && LOWORD(wparam) != IDC_SELECTED_FOLDER) {
      copy_current_folder(dialog);
    }
  }
  return 0;
}

int choose_with_shell(HWND owner, char* path) {
  BROWSEINFOA info = {};
  info.hwndOwner = owner;
  info.lpszTitle = kBrowseTitle;
  info.lpfn = browse_callback;
  info.lParam = reinterpret_cast<LPARAM>(path);
  LPITEMIDLIST item = SHBrowseForFolderA(&info);
  if (item == nullptr) return 0;
  SHGetPathFromIDListA(item, path);
  CoTaskMemFree(item);
  return 1;
}

int choose_with_file_dialog(HWND owner, char* path) {
  // "D:\Apps\" starts the dialog in that folder with the pattern "*"; without room for it
  // the text stays as it is and the dialog decides.
  const uint32_t length = text_length(path);
  if (length != 0 && path[length - 1] == '\\') text_append(path, kWorkPathSize, "*");

  OPENFILENAMEA request = {};
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  request.hwndOwner = owner;
  request.hInstance = static_cast<HINSTANCE>(install_state.instance_handle);
  request.lpstrFilter = kFilter;
  request.nFilterIndex = 1;
  request.lpstrFile = path;
  request.nMaxFile = kWorkPathSize;
  request.Flags = OFN_ENABLEHOOK | OFN_ENABLETEMPLATE;
  request.lpfnHook = folder_hook;
  request.lpTemplateName = MAKEINTRESOURCEA(IDD_FOLDER);

  BOOL chosen = GetOpenFileNameA(&request);
  if (!chosen && CommDlgExtendedError() == FNERR_INVALIDFILENAME) {
    path[0] = '\0';  // the initial text was no acceptable file name: start empty
    chosen = GetOpenFileNameA(&request);
  }
  if (chosen) {
    // Drop the "x" the hook put behind the folder; the folder and its backslash remain.
    const uint32_t chosen_length = text_length(path);
    if (chosen_length != 0) path[chosen_length - 1] = '\0';
  }
  return chosen;
}

}  // namespace

int ui_choose_folder(Window owner, char* path) {
  HWND window = static_cast<HWND>(owner);
  if (install_state.os_major_version >= 4) return choose_with_shell(window, path);
  return choose_with_file_dialog(window, path);
}
