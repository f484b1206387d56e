// The installer's command line. Without arguments the installer asks through its dialogs;
// IT departments deploy it unattended with two switches, in upper or lower case:
//   /S         no window at all: the default or /D= folder, existing files replaced,
//              registered but not started; the exit code tells success from failure;
//   /D=FOLDER  the install folder; the last argument, it takes the rest of the line as it
//              stands, spaces included, without quotes.
// Every other argument is ignored.
#pragma once

// Reads a whole command line as Windows gives it (the program's name first) into
// install_state.silent and install_state.folder_argument (which points into it).
void read_arguments(const char* command_line);
