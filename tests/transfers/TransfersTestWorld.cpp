#include "TransfersTestWorld.h"

#include "WireBytes.h"

#include "core/io/MemStream.h"
#include "core/log/LogService.h"
#include "core/persist/DataSaver.h"
#include "core/persist/Settings.h"
#include "dnet/DNetManager.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

TransfersTestWorld::TransfersTestWorld(bool i_load)
{
    m_logStart = GetLogHistory().LastSequence();
    mp_dnet = std::make_unique<DNetManager>();
    mp_shares = std::make_unique<SharedFoldersManager>();
    mp_manager = std::make_unique<TransferQueueManager>();
    Settings::Set("download_folder", m_downloads.path().toStdString());
    if (i_load)
        m_peer.Load();
}

TransfersTestWorld::~TransfersTestWorld()
{
    ClearSent();
    // The manager's end frees what transfers still hold, as at the
    // program's end: the store is emptied without events afterwards, so a
    // figure it left behind shows as a leak.
    mp_manager.reset();
    mp_shares.reset();
    mp_dnet.reset();
}

void TransfersTestWorld::DestroyManager()
{
    mp_manager.reset();
}

void TransfersTestWorld::Load(const QString& i_dataFile)
{
    dataSaver->Load(i_dataFile.toUtf8().constData());
}

void TransfersTestWorld::Save(const QString& i_dataFile)
{
    dataSaver->Save(i_dataFile.toUtf8().constData());
}

void TransfersTestWorld::MakeFile(const QString& i_path, const QByteArray& i_bytes)
{
    QDir().mkpath(QFileInfo(i_path).path());
    QFile l_file(i_path);
    if (l_file.open(QIODevice::WriteOnly))
        l_file.write(i_bytes);
}

QByteArray TransfersTestWorld::ReadFile(const QString& i_path)
{
    QFile l_file(i_path);
    return l_file.open(QIODevice::ReadOnly) ? l_file.readAll() : QByteArray();
}

void TransfersTestWorld::MakeOwnPartial(ItemPtr i_download, const QString& i_path, const QByteArray& i_bytes)
{
    MakeFile(i_path, i_bytes);
    i_download += d.GetType("partial_path")->GetItem(QDir::cleanPath(i_path).toStdString());
}

void TransfersTestWorld::SetOnline(const std::string& i_user, bool i_online)
{
    Server::SetUserStatus(d.GetType("user")->GetItem(i_user), i_online);
}

ItemPtr TransfersTestWorld::ShareFile(const std::string& i_folder, const std::string& i_name, qint64 i_size,
                                      const std::string& i_root, bool i_public)
{
    ItemPtr l_share = d.GetType("shared_folder")->GetItem(i_root);
    if (i_public)
        l_share += d.GetType("shared_public")->GetGlobalNullItem();
    ItemPtr l_folder = d.GetType("shared_file_folder")->GetItem(i_folder);
    l_share += l_folder;
    ItemPtr l_file = l_folder.NewItem("shared_file");
    l_file += d.GetType("shared_file_name")->GetItem(i_name);
    l_file += d.GetType("shared_file_size")->GetItem(std::to_string(i_size));
    return l_file;
}

QList<QByteArray> TransfersTestWorld::Sent(const std::string& i_user)
{
    QList<QByteArray> l_bodies;
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    for (ItemPtr l_entry : l_user.GetItems("unsent_message").SortNumericBy("send_order", true)) {
        const MemStream::Buffer& l_buffer = *l_entry.AsObject<MemStream>()->mp_buffer;
        l_bodies.append(QByteArray(l_buffer.mp_buffer, l_buffer.m_writeIndex));
    }
    return l_bodies;
}

void TransfersTestWorld::ClearSent()
{
    for (ItemPtr l_entry : d.GetType("unsent_message")->GetItems()) {
        delete l_entry.AsObject<MemStream>();
        l_entry.Remove();
    }
}

QStringList TransfersTestWorld::LogTexts() const
{
    static const QRegularExpression s_prefix(R"(^\[[^\]]*\] )");
    QStringList l_texts;
    for (const LogEntry& l_entry : GetLogHistory().AreaEntries(TransferQueueManager::LogArea)) {
        if (l_entry.m_sequence > m_logStart)
            l_texts.append(QString(l_entry.m_line).remove(s_prefix));
    }
    return l_texts;
}

void TransfersTestWorld::ClearLog()
{
    m_logStart = GetLogHistory().LastSequence();
}

void TransfersTestWorld::OfferToBobWithCarolWaiting(const QTemporaryDir& i_files)
{
    const std::string l_folder = i_files.path().toStdString();
    for (const char* lp_name : {"a", "b"}) {
        MakeFile(i_files.filePath(lp_name));
        ShareFile(l_folder, lp_name, 1, l_folder);
    }
    SetOnline("bob");
    SetOnline("carol");
    Manager().OnQueueUploadRequested("bob", l_folder + "/a");
    Manager().OnQueueUploadRequested("carol", l_folder + "/b");
}

long TransfersTestWorld::FileConnectionsAsked()
{
    const auto& l_relayed = m_peer.m_requests.m_relayed;
    return std::count_if(l_relayed.begin(), l_relayed.end(), [](const auto& i_request) { return i_request.m_type == "F"; });
}

QByteArray FileConnectionOpening(const std::string& i_user, quint32 i_token)
{
    return FakePeerFrames::Plain(WireWriter().U8(1).Str(i_user).Str("F").U32(0)) + WireWriter().U32(i_token).Bytes();
}

QByteArray OfferBody(quint32 i_token, const std::string& i_path, qint64 i_size)
{
    return WireWriter().U32(40).U32(1).U32(i_token).Str(i_path).I64(i_size);
}

QByteArray Pattern(int i_size)
{
    QByteArray l_bytes(i_size, Qt::Uninitialized);
    for (int l_index = 0; l_index < i_size; ++l_index)
        l_bytes[l_index] = static_cast<char>((l_index * 7 + l_index / 251) & 0xff);
    return l_bytes;
}

QByteArray Other(int i_size)
{
    QByteArray l_bytes = Pattern(i_size);
    for (char& l_byte : l_bytes)
        l_byte = static_cast<char>(l_byte ^ 0x5a);
    return l_bytes;
}

QByteArray MessageBody(quint32 i_code, const std::string& i_text)
{
    return WireWriter().U32(i_code).Str(i_text);
}

QByteArray MessageBody(quint32 i_code, const std::string& i_text, const std::string& i_secondText)
{
    return WireWriter().U32(i_code).Str(i_text).Str(i_secondText);
}
