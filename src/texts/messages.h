// The installer's own texts that more than one part shows: the start-up messages (the
// error reporter holds the others), which zpx passes on word for word, and the overwrite
// question of every front end.
#pragma once

inline constexpr char kModifiedInstallerText[] =
    "This installer has been modified. An error may have occurred during downloading, or your "
    "computer may have a virus. Make sure your virus scanner is the latest version, and check "
    "your computer for viruses. You will need to download this installer again.";

inline constexpr char kNoFilesText[] = "Archive contains no files";

// Asked for install_state.install_folder when a file to extract exists already.
inline constexpr char kOverwriteQuestion[] = "File %s already exists. Overwrite?";
