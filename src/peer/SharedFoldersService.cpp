#include "peer/SharedFoldersService.h"

SharedFoldersService* sharedFoldersService = nullptr;
