#include "shares/MP3Scanner.h"

#include <QMutexLocker>

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

void MP3Scanner::OnMP3ScanRequired(QString)
{
    // Reading the frame headers is not built yet: a file stays unscanned and
    // is asked for again at the next rescan.
}
