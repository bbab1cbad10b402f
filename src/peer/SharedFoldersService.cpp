#include "peer/SharedFoldersService.h"

SharedFoldersService* sharedFoldersManager = nullptr;
