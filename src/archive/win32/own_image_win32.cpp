// The stub's own image: its headers, mapped as they lie in the file, give the places that
// signing the finished installer changes. IMAGE_NT_HEADERS is the stub's own format:
// PE32 in the i686 build, PE32+ in the x86_64 build.
#include <windows.h>

#include <cstddef>

#include "archive/installer_image.h"

extern "C" const IMAGE_DOS_HEADER __ImageBase;

namespace {

constexpr bool kPe32Plus = sizeof(void*) == 8;
// The shared rule gives the places this build's own headers have.
static_assert(signature_fields_at(0, kPe32Plus).checksum_offset ==
              offsetof(IMAGE_NT_HEADERS, OptionalHeader.CheckSum));
static_assert(signature_fields_at(0, kPe32Plus).certificate_entry_offset ==
              offsetof(IMAGE_NT_HEADERS,
                       OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY]));

}  // namespace

SignatureFields own_signature_fields() {
  return signature_fields_at(static_cast<uint32_t>(__ImageBase.e_lfanew), kPe32Plus);
}
