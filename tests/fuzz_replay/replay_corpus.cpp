// Replays every file of the fuzz seed corpus through the fuzz target's entry, so that
// the sanitizer build checks the seeds on every test run. Arguments: the corpus folder.
#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  DIR* folder = opendir(argv[1]);
  if (folder == nullptr) return 2;
  int replayed = 0;
  while (const dirent* entry = readdir(folder)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream in(std::string(argv[1]) + "/" + entry->d_name, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    std::printf("replayed %s (%zu bytes)\n", entry->d_name, bytes.size());
    ++replayed;
  }
  closedir(folder);
  return replayed > 0 ? 0 : 1;  // an empty corpus replays nothing: a failure
}
