#include "ui/social/SocialResources.h"

#include <QtGlobal>

void InitSocialResources()
{
    static const bool s_registered = [] {
        Q_INIT_RESOURCE(flags);
        return true;
    }();
    Q_UNUSED(s_registered);
}
