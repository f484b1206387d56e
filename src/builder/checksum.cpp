#include "builder/checksum.h"

#include <mutex>

namespace builder {

void crc_ready() {
  static std::once_flag built;
  std::call_once(built, crc_build_table);
}

}  // namespace builder
