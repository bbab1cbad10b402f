#include "core/util/Md5.h"

#include <QByteArray>
#include <QCryptographicHash>

std::string Md5HexDigest(const std::string& i_bytes)
{
    const QByteArray l_digest = QCryptographicHash::hash(
        QByteArrayView(i_bytes.data(), qsizetype(i_bytes.size())), QCryptographicHash::Md5);
    return l_digest.toHex().toStdString();
}
