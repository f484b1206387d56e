// The stub's own image: its headers, mapped as they lie in the file, give the places that
// signing the finished installer changes. IMAGE_NT_HEADERS is the stub's own format:
// PE32 in the i686 build, PE32+ in the x86_64 build.
#include <windows.h>

#include <cstddef>

#include "archive/installer_image.h"

extern "C" const IMAGE_DOS_HEADER __ImageBase;

namespace {

constexpr uint32_t kChecksum = offsetof(IMAGE_NT_HEADERS, OptionalHeader.CheckSum);
constexpr uint32_t kCertificateEntry =
    offsetof(IMAGE_NT_HEADERS, OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY]);

}  // namespace

SignatureFields own_signature_fields() {
  const uint32_t pe = static_cast<uint32_t>(__ImageBase.e_lfanew);
  return {pe + kChecksum, pe + kCertificateEntry};
}
