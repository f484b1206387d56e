// Prints, for each path on the command line, its attributes and last-write time as the
// system reports them: "attributes=HEX write=YYYY-MM-DD hh:mm:ss" (universal time), or
// "missing" when the path does not exist.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(argv[i], GetFileExInfoStandard, &data)) {
      std::printf("%s missing\n", argv[i]);
      continue;
    }
    SYSTEMTIME written;
    FileTimeToSystemTime(&data.ftLastWriteTime, &written);
    std::printf("%s attributes=%lx write=%04u-%02u-%02u %02u:%02u:%02u\n", argv[i],
                data.dwFileAttributes, written.wYear, written.wMonth, written.wDay, written.wHour,
                written.wMinute, written.wSecond);
  }
  return 0;
}
