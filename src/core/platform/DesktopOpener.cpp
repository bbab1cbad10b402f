#include "core/platform/DesktopOpener.h"

namespace
{
DesktopOpener& CurrentOpener()
{
    static DesktopOpener s_opener;
    return s_opener;
}
}

void SetDesktopOpener(DesktopOpener i_opener)
{
    CurrentOpener() = std::move(i_opener);
}

bool OpenWithDesktop(const QUrl& i_url)
{
    const DesktopOpener& l_opener = CurrentOpener();
    if (!l_opener || !i_url.isValid())
        return false;
    return l_opener(i_url);
}

bool OpenLocalPathWithDesktop(const QString& i_path)
{
    if (i_path.isEmpty())
        return false;
    return OpenWithDesktop(QUrl::fromLocalFile(i_path));
}
