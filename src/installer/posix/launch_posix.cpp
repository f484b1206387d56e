// Starting a program on POSIX: the mapped path is run in a new session, detached from the
// installer (double fork), with its standard streams on /dev/null. The program is the
// command line's first part, as Windows reads it: up to the closing quote when it starts
// with one, else the whole line. The program finds the command line, as a Windows program
// would through GetCommandLine, in the environment variable ZARPEX_COMMAND_LINE.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "installer/system.h"
#include "platform/fs.h"
#include "platform/posix/os_error.h"
#include "platform/posix/path_map.h"

uint32_t sys_win_exec(const char* command_line, uint32_t) {
  std::string name = command_line;
  if (name[0] == '"') {
    const size_t end = name.find('"', 1);
    name = name.substr(1, end == std::string::npos ? std::string::npos : end - 1);
  }
  char program[4096];
  if (!map_to_posix(name.c_str(), program, sizeof program)) return kErrorPathNotFound;
  struct stat st;
  if (stat(program, &st) != 0) return windows_error_from_errno(errno, program);
  if (!S_ISREG(st.st_mode)) return 11;  // ERROR_BAD_FORMAT
  // Windows runs a program by its name; an extracted file carries no execute bit, so the
  // program to start gets one wherever it may be read.
  if (access(program, X_OK) != 0) {
    chmod(program, (st.st_mode & 07777) | ((st.st_mode & 0444) >> 2));
    if (access(program, X_OK) != 0) return 11;
  }
  const pid_t child = fork();
  if (child < 0) return 0;
  if (child == 0) {
    // The intermediate child starts a new session and leaves at once, so that the
    // program belongs to neither the installer's session nor its children.
    setsid();
    const pid_t grandchild = fork();
    if (grandchild != 0) _exit(0);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      if (null > 2) close(null);
    }
    setenv("ZARPEX_COMMAND_LINE", command_line, 1);
    char* const argv[] = {program, nullptr};
    execv(program, argv);
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return 33;
}
