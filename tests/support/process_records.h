// One reset of every process-wide record for every fixture: the ArchiveReader, the
// InstallState, last_os_error, the shared message text, the driver's interruption flag
// and the scripted front end; the CRC table is built afresh.
#pragma once

void reset_process_records();
