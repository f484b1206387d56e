#include "builder/levels.h"

namespace builder {

LevelParams level_params(int level) {
  switch (level) {
    case 0:
      return {0, 0, 0, false, 0, false, 0, true};
    case 1:
      return {4, 16, 0, false, 0};
    case 2:
      return {8, 32, 0, false, 0};
    case 3:
      return {12, 32, 1, false, 0};
    case 4:
      return {24, 64, 1, false, 0};
    case 5:
      return {48, 128, 1, false, 0};
    case 6:
      return {96, 192, 2, false, 0};
    case 7:
      return {16, 64, 0, true, 1, true, 0};
    case 8:
      return {32, 258, 0, true, 3, true, 3};
    default:
      return {64, 2048, 0, true, 3, true, 3, false, 4};
  }
}

}  // namespace builder
