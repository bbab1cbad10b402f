#include "ui/widgets/DesktopServicesOpener.h"

#include "core/platform/DesktopOpener.h"

#include <QDesktopServices>

void InstallDesktopServicesOpener()
{
    SetDesktopOpener([](const QUrl& i_url) { return QDesktopServices::openUrl(i_url); });
}
