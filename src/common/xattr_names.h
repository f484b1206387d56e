// Where POSIX builds keep what the file system has no place for, in extended attributes
// of the file: the hidden and system bits (and a folder's read-only bit) as hexadecimal
// text, and the creation time as decimal seconds since the epoch. The installer writes
// them; the packer reads them back.
#pragma once

inline constexpr char kAttributeXattr[] = "user.zarpex.attributes";
inline constexpr char kCreationXattr[] = "user.zarpex.creation";
