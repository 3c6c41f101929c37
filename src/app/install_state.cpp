#include "app/install_state.h"

TInstallState InstallState;
