#include "shares/MP3Scanner.h"

#include "core/platform/FileByBytes.h"

#include <QFile>
#include <QMutexLocker>

#include <memory>

namespace
{
// Blocks read with one call: fewer system calls, the same blocks.
constexpr int BlocksPerRead = 4;

// Fills the buffer from the file; fewer bytes only at end of file, -1 on a
// read error. Every fill but the last is whole, so the buffer always starts
// on a block boundary of the file.
qint64 Fill(QFile& io_file, char* op_buffer, qint64 i_capacity)
{
    qint64 l_filled = 0;
    while (l_filled < i_capacity) {
        const qint64 l_read = io_file.read(op_buffer + l_filled, i_capacity - l_filled);
        if (l_read < 0)
            return -1;
        if (l_read == 0)
            break;
        l_filled += l_read;
    }
    return l_filled;
}
}  // namespace

void MP3Scanner::Quit()
{
    QMutexLocker l_lock(&m_quitMutex);
    m_quit = true;
}

bool MP3Scanner::IsQuitting()
{
    QMutexLocker l_lock(&m_quitMutex);
    return m_quit;
}

bool MP3Scanner::ScanMP3(const QByteArray& i_file, MP3Attributes& o_attributes)
{
    if (IsQuitting())
        return false;
    // By the path's bytes: a name that is not valid UTF-8 is read all the
    // same. Only regular files: a pipe would make the scan wait for ever.
    QFile l_file;
    if (!OpenForReadingByBytes(l_file, i_file.toStdString()))
        return false;
    if (l_file.size() == 0)
        return false;

    constexpr qint64 l_capacity = qint64(BlockSize) * BlocksPerRead;
    const std::unique_ptr<char[]> lp_buffer(new char[l_capacity]);
    MP3HeaderCounter l_counter;
    for (;;) {
        const qint64 l_filled = Fill(l_file, lp_buffer.get(), l_capacity);
        if (l_filled < 0)
            return false;
        for (qint64 l_offset = 0; l_offset < l_filled; l_offset += BlockSize) {
            // Checked per block, so that shut-down never waits for a long file.
            if (IsQuitting())
                return false;
            const qint64 l_length = qMin<qint64>(BlockSize, l_filled - l_offset);
            l_counter.Examine(reinterpret_cast<const unsigned char*>(lp_buffer.get() + l_offset),
                              static_cast<std::size_t>(l_length));
        }
        if (l_filled < l_capacity)
            break;
    }
    return l_counter.Decide(o_attributes);
}

void MP3Scanner::OnMP3ScanRequired(QString i_file)
{
    MP3Attributes l_attributes;
    if (!ScanMP3(i_file.toLatin1(), l_attributes))
        return;
    const QString l_mode = QString::fromStdString(MP3ChannelModeText(l_attributes.m_channelMode));
    emit MP3Scanned(i_file, l_attributes.m_mpegVersion, l_mode, l_attributes.m_frequency, l_attributes.m_isVBR,
                    l_attributes.m_bitrate);
}
