#pragma once

#include "shares/MP3HeaderCounter.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>

// Reads the audio attributes of MP3 files on the scanner thread. Requests
// arrive and results leave by queued signals; the scanner never touches the
// item store.
class MP3Scanner : public QObject
{
    Q_OBJECT

public:
    // The file is read in blocks of this size; a header is never read
    // across two of them.
    static constexpr int BlockSize = 65536;

    // Asks the scanner to stop; safe from any thread. A scan under way ends
    // at its next block without a result, and later requests do nothing.
    void Quit();
    bool IsQuitting();

    // Reads the whole file (its path's bytes as the disk names them, which
    // need not be valid UTF-8) once, from start to end of file. False, with
    // o_attributes untouched, when the file cannot be opened or read, is
    // not a regular file, is empty, holds no usable header, or the scanner
    // is quitting.
    bool ScanMP3(const QByteArray& i_file, MP3Attributes& o_attributes);

public slots:
    // i_file carries the path's bytes one per character.
    void OnMP3ScanRequired(QString i_file);

signals:
    void MP3Scanned(QString i_file, int i_mpegVersion, QString i_channelMode, int i_frequency, bool i_isVBR,
                    int i_bitrate);

private:
    QMutex m_quitMutex;
    bool m_quit = false;
};
