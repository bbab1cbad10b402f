#pragma once

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
    // Asks the scanner to stop before its next file; safe from any thread.
    void Quit();
    bool IsQuitting();

public slots:
    void OnMP3ScanRequired(QString i_file);

signals:
    void MP3Scanned(QString i_file, int i_mpegVersion, QString i_channelMode, int i_frequency, bool i_isVBR,
                    int i_bitrate);

private:
    QMutex m_quitMutex;
    bool m_quit = false;
};
