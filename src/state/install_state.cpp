#include "state/install_state.h"

InstallState install_state;
