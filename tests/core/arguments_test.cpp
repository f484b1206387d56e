// The installer's command line: /S and /D= among arguments that are ignored.
#include "installer/arguments.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "state/install_state.h"

namespace {

TEST(Arguments, SilentSwitchAndFolder) {
  struct Case {
    const char* line;
    bool silent;
    const char* folder;  // nullptr: none given
  } cases[] = {
      {"setup.exe", false, nullptr},
      {"\"C:\\My Downloads\\setup.exe\"", false, nullptr},
      {"setup.exe /S", true, nullptr},
      {"setup.exe /s", true, nullptr},
      {"\"C:\\My Downloads\\setup.exe\" /S", true, nullptr},
      {"setup.exe\t/S\t", true, nullptr},
      {"setup.exe /S /D=C:\\Program Files\\Silent Target", true,
       "C:\\Program Files\\Silent Target"},
      {"setup.exe /d=D:\\x  y ", false, "D:\\x  y "},  // the rest of the line as it stands
      {"setup.exe /D=C:\\a /S", false, "C:\\a /S"},    // /D= is last: /S is part of the folder
      {"setup.exe /D=", false, ""},
      // Anything else is ignored, quoted arguments whole.
      {"setup.exe /SS /Silent -S S /D /Dx=C:\\a", false, nullptr},
      {"setup.exe \"x /S\" \"y /D=C:\\b\"", false, nullptr},
      {"setup.exe /x /S /y", true, nullptr},
      // The program's name alone is no switch, quoted or not.
      {"/S", false, nullptr},
      {"\"/D=x\"", false, nullptr},
  };
  for (const Case& c : cases) {
    std::memset(&install_state, 0, sizeof install_state);
    read_arguments(c.line);
    EXPECT_EQ(install_state.silent != 0, c.silent) << c.line;
    if (c.folder == nullptr) {
      EXPECT_EQ(install_state.folder_argument, nullptr) << c.line;
    } else {
      ASSERT_NE(install_state.folder_argument, nullptr) << c.line;
      EXPECT_STREQ(install_state.folder_argument, c.folder) << c.line;
    }
  }
  std::memset(&install_state, 0, sizeof install_state);
}

}  // namespace
