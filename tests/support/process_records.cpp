#include "support/process_records.h"

#include <cstring>

#include "archive/extract.h"
#include "codec/archive_reader.h"
#include "common/crc32.h"
#include "platform/fs.h"
#include "state/install_state.h"
#include "support/fake_ui.h"
#include "ui/ui.h"

void reset_process_records() {
  std::memset(&archive_reader, 0, sizeof archive_reader);
  std::memset(&install_state, 0, sizeof install_state);
  std::memset(message_text, 0, sizeof message_text);
  last_os_error = 0;
  extraction_interrupted = 0;
  fake_ui.reset();
  crc_build_table();
}
