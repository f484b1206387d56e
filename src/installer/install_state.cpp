#include "installer/install_state.h"

InstallState install_state;
