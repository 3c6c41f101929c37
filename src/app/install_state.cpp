#include "install_state.h"

TInstallState InstallState;
