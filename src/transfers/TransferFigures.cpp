#include "transfers/TransferFigures.h"

#include <QFile>
#include <QTcpSocket>

namespace TransferFigures
{
const Resources DownloadResources{"download_socket",
                                  "download_file",
                                  {"write_position", "last_receipt_time", "last_speed_measurement_time",
                                   "bytes_per_second", "bytes_since_last_receipt"}};
const Resources UploadResources{"upload_socket",
                                "upload_file",
                                {"read_position", "last_receipt_time", "last_speed_measurement_time", "bytes_per_second",
                                 "bytes_since_last_receipt"}};

void RecordProgress(ItemPtr i_entry, const char* ip_positionType, qint64 i_offset, int i_bytesPerSecond)
{
    if (auto* lp_position = Of<Position>(i_entry, ip_positionType))
        *lp_position = i_offset;
    if (auto* lp_speed = Of<Speed>(i_entry, "bytes_per_second"))
        *lp_speed = i_bytesPerSecond;
    if (auto* lp_time = Of<Time>(i_entry, "last_receipt_time"))
        *lp_time = QDateTime::currentDateTime();
}

void Release(ItemPtr i_entry, const Resources& i_resources)
{
    // Each item goes before its object, so nothing that watches the store
    // ever reads the address of a freed object.
    if (ItemPtr l_fileItem = i_entry[i_resources.mp_fileType]) {
        auto* lp_file = l_fileItem.AsObject<QFile>();
        l_fileItem.Remove();
        if (lp_file) {
            lp_file->close();
            delete lp_file;
        }
    }
    if (ItemPtr l_socketItem = i_entry[i_resources.mp_socketType]) {
        auto* lp_socket = l_socketItem.AsObject<QTcpSocket>();
        l_socketItem.Remove();
        if (lp_socket) {
            QObject::disconnect(lp_socket, nullptr, nullptr, nullptr);
            lp_socket->close();
            lp_socket->deleteLater();
        }
    }
    for (const char* lp_type : i_resources.m_figureTypes) {
        if (ItemPtr l_figure = i_entry[lp_type])
            l_figure.Remove();
    }
}
}  // namespace TransferFigures
