#include "SharesTestWorld.h"

#include "core/persist/Settings.h"
#include "dnet/DNetManager.h"
#include "server/Server.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QtEndian>

#include <zlib.h>

SharesTestWorld::SharesTestWorld(bool i_load)
{
    mp_dnet = std::make_unique<DNetManager>();
    mp_shares = std::make_unique<SharedFoldersManager>();
    mp_shares->SetMessageSink([this](const std::string& i_user, MemStream& i_body) {
        const MemStream::Buffer& l_buffer = *i_body.mp_buffer;
        const QByteArray l_body(l_buffer.mp_buffer, l_buffer.m_writeIndex);
        CaughtReply l_reply;
        l_reply.m_user = i_user;
        if (l_body.size() >= 4)
            l_reply.m_code = qFromLittleEndian<quint32>(l_body.constData());
        l_reply.m_payload = Inflate(l_body.mid(4));
        m_replies.push_back(l_reply);
    });
    if (i_load)
        m_peer.Load();
    Settings::Set("use_upnp", "no");
}

SharesTestWorld::~SharesTestWorld()
{
    mp_shares.reset();
    mp_dnet.reset();
}

bool SharesTestWorld::LogIn(const std::string& i_user)
{
    if (!m_central.Start())
        return false;
    m_peer.Link().SetServerAddress("127.0.0.1", m_central.Port());
    Settings::Set("username", i_user);
    Settings::Set("password", "pw");
    m_peer.Link().Connect();
    return QTest::qWaitFor([this] { return m_peer.Link().IsConnected(); }, 5000);
}

std::string SharesTestWorld::MakeFolder(const std::string& i_relative)
{
    const QString l_path = m_root.filePath(QString::fromStdString(i_relative));
    QDir().mkpath(l_path);
    return l_path.toStdString();
}

std::string SharesTestWorld::MakeFile(const std::string& i_relative, qint64 i_size)
{
    return MakeFileIn(m_root.path(), i_relative, i_size);
}

std::string SharesTestWorld::MakeFileIn(const QString& i_base, const std::string& i_relative, qint64 i_size)
{
    const QString l_path = QDir(i_base).filePath(QString::fromStdString(i_relative));
    QDir().mkpath(QFileInfo(l_path).path());
    QFile l_file(l_path);
    if (l_file.open(QIODevice::WriteOnly))
        l_file.resize(i_size);
    return l_path.toStdString();
}

ItemPtr SharesTestWorld::Share(const std::string& i_path, bool i_public)
{
    ItemPtr l_share = d.GetType("shared_folder")->GetItem(i_path);
    if (i_public)
        l_share += d.GetType("shared_public")->GetGlobalNullItem();
    return l_share;
}

bool SharesTestWorld::WaitIdle()
{
    return QTest::qWaitFor([this] { return !mp_shares->IsRescanning(); }, 10000);
}

bool SharesTestWorld::InitAndWait()
{
    mp_shares->Init();
    return WaitIdle();
}

bool SharesTestWorld::RescanAndWait()
{
    mp_shares->RescanShares();
    return WaitIdle();
}

ItemPtr SharesTestWorld::Index(ItemPtr i_share, const std::string& i_folder, const std::string& i_name, qint64 i_size)
{
    ItemPtr l_folder = d.GetType("shared_file_folder")->GetItem(i_folder);
    i_share += l_folder;
    ItemPtr l_file = l_folder.NewItem("shared_file");
    l_file += d.GetType("shared_file_name")->GetItem(i_name);
    l_file += d.GetType("shared_file_size")->GetItem(std::to_string(i_size));
    sharedFoldersManager->TokenizeSharedFile(l_file);
    return l_file;
}

ItemPtr SharesTestWorld::FileItem(const std::string& i_folder, const std::string& i_name)
{
    ItemPtr l_folder = d.GetType("shared_file_folder")->HasItem(i_folder);
    ItemPtr l_name = d.GetType("shared_file_name")->HasItem(i_name);
    if (!l_folder || !l_name)
        return ItemPtr();
    return d.GetItem(l_folder, l_name, "shared_file");
}

QByteArray Inflate(const QByteArray& i_stream)
{
    QByteArray l_out(16 * 1024 * 1024, Qt::Uninitialized);
    uLongf l_length = static_cast<uLongf>(l_out.size());
    if (uncompress(reinterpret_cast<Bytef*>(l_out.data()), &l_length, reinterpret_cast<const Bytef*>(i_stream.constData()),
                   static_cast<uLong>(i_stream.size())) != Z_OK)
        return QByteArray();
    l_out.resize(static_cast<qsizetype>(l_length));
    return l_out;
}

bool WaitUntilListingsStored(const std::function<void()>& i_betweenTurns)
{
    return QTest::qWaitFor(
        [&i_betweenTurns] {
            if (i_betweenTurns)
                i_betweenTurns();
            return !sharedFoldersManager->Received().IsBusy();
        },
        10000);
}
