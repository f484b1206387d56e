// The POSIX installer is no PE image: signing changes nothing inside its stub.
#include "archive/installer_image.h"

SignatureFields own_signature_fields() {
  return {0, 0};
}
