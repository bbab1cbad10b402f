#include "ui/frame/FrameResources.h"

#include <QtGlobal>

void InitFrameResources()
{
    static const bool s_registered = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    Q_UNUSED(s_registered);
}
