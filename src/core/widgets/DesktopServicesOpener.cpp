#include "widgets/DesktopServicesOpener.h"

#include "platform/DesktopOpener.h"

#include <QDesktopServices>

void InstallDesktopServicesOpener()
{
    SetDesktopOpener([](const QUrl& i_url) { return QDesktopServices::openUrl(i_url); });
}
