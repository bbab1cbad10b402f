#include "ui/views/TransferProgressText.h"

#include "core/util/GeneralFunctions.h"

namespace
{
double Share(qint64 i_done, qint64 i_total)
{
    return i_total == 0 ? 100.0 : static_cast<double>(i_done) * 100.0 / static_cast<double>(i_total);
}
}  // namespace

namespace TransferProgressText
{
QString Progress(qint64 i_done, qint64 i_total)
{
    return QStringLiteral("%1 (%2%)").arg(CommafyNumber(i_done), QString::number(Share(i_done, i_total), 'f', 1));
}

int Percent(qint64 i_done, qint64 i_total)
{
    return static_cast<int>(qBound(-1e9, Share(i_done, i_total), 1e9));
}

QString Speed(qint64 i_bytesPerSecond)
{
    return QString::number(static_cast<double>(i_bytesPerSecond) / 1024.0, 'f', 1);
}

QString TimeLeft(qint64 i_bytesLeft, qint64 i_bytesPerSecond)
{
    const qint64 l_seconds = i_bytesPerSecond > 0 ? i_bytesLeft / i_bytesPerSecond : 0;
    QString l_text = QStringLiteral("%1s").arg(l_seconds % 60);
    if (l_seconds > 59)
        l_text.prepend(QStringLiteral("%1m:").arg((l_seconds / 60) % 60));
    if (l_seconds > 3599)
        l_text.prepend(QStringLiteral("%1h:").arg(l_seconds / 3600));
    return QStringLiteral("   ") + l_text;
}
}  // namespace TransferProgressText
