// ResultCode: 0 or a positive count is success, a negative value names the failure.
#pragma once

#include <cstdint>

using ResultCode = int32_t;

enum : ResultCode {
  kResultOk = 0,
  kResultFileLayerFailure = -1,  // the file layer's -1, passed up unchanged; also "already shown"
  kResultImageModified = -1,     // the self-check found the stub changed (the installer warns)
  kResultNoMemory = -2,
  kResultCannotCreate = -3,
  kResultCannotOpenSelf = -5,
  kResultShortRead = -6,
  kResultWriteFailed = -8,
  kResultCannotCreateFolder = -9,
  kResultDamaged = -11,
  kResultReadFailed = -17,
  kResultCancelled = -25,
  kResultNoMoreInput = -50,
};
