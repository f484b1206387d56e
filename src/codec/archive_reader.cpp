#include "codec/archive_reader.h"

ArchiveReader archive_reader;
