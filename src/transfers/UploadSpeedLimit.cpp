#include "transfers/UploadSpeedLimit.h"

#include <QMutexLocker>

#include <limits>

void UploadSpeedLimit::Apply(int i_totalKBPerSecond, int i_perUploadKBPerSecond)
{
    QMutexLocker l_lock(&m_uploadSpeedAccessMutex);
    m_maxKBPerSecond = i_totalKBPerSecond;
    m_maxKBPerSecondPerUpload = qMax(i_perUploadKBPerSecond, 1);
    m_uploadCredit = 0;
}

void UploadSpeedLimit::Lift()
{
    QMutexLocker l_lock(&m_uploadSpeedAccessMutex);
    m_maxKBPerSecond = 0;
    m_maxKBPerSecondPerUpload = 0;
}

int UploadSpeedLimit::Total() const
{
    QMutexLocker l_lock(&m_uploadSpeedAccessMutex);
    return m_maxKBPerSecond;
}

int UploadSpeedLimit::PerUpload() const
{
    QMutexLocker l_lock(&m_uploadSpeedAccessMutex);
    return m_maxKBPerSecondPerUpload;
}

qint64 UploadSpeedLimit::Credit() const
{
    QMutexLocker l_lock(&m_uploadSpeedAccessMutex);
    return m_uploadCredit;
}

qint64 UploadSpeedLimit::Settle(qint64 i_debt)
{
    QMutexLocker l_lock(&m_uploadSpeedAccessMutex);
    if (i_debt < m_uploadCredit) {
        m_uploadCredit -= i_debt;
        return 0;
    }
    const qint64 l_left = i_debt - m_uploadCredit;
    m_uploadCredit = 0;
    return l_left;
}

void UploadSpeedLimit::Earn(qint64 i_bytes)
{
    QMutexLocker l_lock(&m_uploadSpeedAccessMutex);
    if (i_bytes > 0)
        m_uploadCredit = m_uploadCredit > std::numeric_limits<qint64>::max() - i_bytes ? std::numeric_limits<qint64>::max()
                                                                                       : m_uploadCredit + i_bytes;
}
