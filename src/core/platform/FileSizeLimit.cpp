#include "core/platform/FileSizeLimit.h"

#include <csignal>

void IgnoreFileSizeLimitSignal()
{
    struct sigaction l_action = {};
    l_action.sa_handler = SIG_IGN;
    sigemptyset(&l_action.sa_mask);
    ::sigaction(SIGXFSZ, &l_action, nullptr);
}
