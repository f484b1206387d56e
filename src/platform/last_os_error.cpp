#include "platform/fs.h"

uint32_t last_os_error;
