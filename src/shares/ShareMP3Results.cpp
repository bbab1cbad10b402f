// Writing what the MP3 scanner found onto the index.
#include "shares/SharedFoldersManager.h"

#include "core/log/Log.h"

void SharedFoldersManager::OnMP3Scanned(QString i_file, int i_mpegVersion, QString i_channelMode, int i_frequency,
                                        bool i_isVBR, int i_bitrate)
{
    // The path arrives as its UTF-8 bytes one per character; the log shows
    // it as text.
    const QByteArray l_path = i_file.toLatin1();
    Log("MP3 Scanning", 1, QString("Scanned %1").arg(QString::fromUtf8(l_path)));
    // The file may have left the index while it was read.
    ItemPtr l_file = GetSharedFileItem(l_path.toStdString());
    if (!l_file)
        return;
    l_file += d.GetType("mpeg_version")->GetItem(i_mpegVersion);
    l_file += d.GetType("channel_mode")->GetItem(i_channelMode.toLatin1().toStdString());
    l_file += d.GetType("audio_frequency")->GetItem(i_frequency);
    l_file += d.GetType("bitrate_mode")->GetItem(i_isVBR ? "vbr" : "cbr");
    l_file += d.GetType("bitrate")->GetItem(i_bitrate);
    l_file += d.GetType("is_scanned")->GetGlobalNullItem();
}
