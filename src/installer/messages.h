// The installer's own start-up messages (the error reporter holds the others); zpx shows
// the same texts.
#pragma once

inline constexpr char kModifiedInstallerText[] =
    "This installer has been modified. An error may have occurred during downloading, or your "
    "computer may have a virus. Make sure your virus scanner is the latest version, and check "
    "your computer for viruses. You will need to download this installer again.";

inline constexpr char kNoFilesText[] = "Archive contains no files";
