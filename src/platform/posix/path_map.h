// Windows-style paths inside the core, POSIX paths at the system boundary.
//
// Drive Z: is the POSIX root "/" (so every POSIX path has a Windows name); every other
// drive letter X: is the folder "$ZARPEX_ROOT/drive_x" (ZARPEX_ROOT defaults to
// "$HOME/.zarpex"). A path rooted without a drive ("\dir") lies on Z:. A relative path
// stays relative to the current folder. Backslashes become slashes; letters keep their
// case (POSIX file names are case-sensitive). When ansi_code_page (code_page.h) is set,
// the names' bytes are read in it and written as UTF-8, and the other way back; a name
// with no form on the other side does not map.
#pragma once

#include <cstddef>

// Writes the POSIX form of a Windows path; false when it does not fit.
bool map_to_posix(const char* windows_path, char* out, size_t out_size);
// Writes the Windows form of a POSIX path; false when it does not fit.
bool map_to_windows(const char* posix_path, char* out, size_t out_size);
// The folder under which the drives other than Z: live ($ZARPEX_ROOT, else $HOME/.zarpex).
bool zarpex_root(char* out, size_t out_size);
// Folder that stands for drive `letter` (no trailing slash); false when it does not fit.
bool drive_folder(char letter, char* out, size_t out_size);
