#pragma once

#include <QMutex>
#include <QtGlobal>

// The upload speed limit in force, shared by the transfer manager (GUI
// thread), which sets it, and the upload threads, which hold themselves to
// it. The total cap is split equally among the active uploads; what one
// upload's share earns and it does not use goes into one common credit
// that every upload pays from first. Each member is read and written under
// one mutex, held only for that access: never while sleeping or doing
// socket or file work.
class UploadSpeedLimit
{
public:
    // A cap in force: the total and each upload's share in KB/s (1 KB is
    // 1024 bytes, the share at least 1). Empties the credit.
    void Apply(int i_totalKBPerSecond, int i_perUploadKBPerSecond);
    // No cap: both 0; the credit keeps its value.
    void Lift();

    int Total() const;
    int PerUpload() const;
    qint64 Credit() const;

    // Pays a debt in bytes from the credit as far as it reaches; returns the
    // debt left.
    qint64 Settle(qint64 i_debt);
    // Adds bytes that a share earned and did not use.
    void Earn(qint64 i_bytes);

private:
    mutable QMutex m_uploadSpeedAccessMutex;
    qint64 m_uploadCredit = 0;
    int m_maxKBPerSecond = 0;
    int m_maxKBPerSecondPerUpload = 0;
};
