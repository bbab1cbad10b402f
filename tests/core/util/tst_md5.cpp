#include "core/util/Md5.h"

#include <QtTest>

class TestMd5 : public QObject
{
    Q_OBJECT

private slots:
    void KnownDigests();
};

void TestMd5::KnownDigests()
{
    // Reference digests of the algorithm's definition, in the lower-case hex
    // form the login sends.
    QCOMPARE(Md5HexDigest(""), std::string("d41d8cd98f00b204e9800998ecf8427e"));
    QCOMPARE(Md5HexDigest("abc"), std::string("900150983cd24fb0d6963f7d28e17f72"));
    QCOMPARE(Md5HexDigest("message digest"), std::string("f96b697d7cb7938d525a2f31aaf161d0"));
    QCOMPARE(Md5HexDigest("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
             std::string("57edf4a22be3c955ac49da2e2107b67a"));
    // Bytes, not C text: an embedded NUL is part of the input.
    QCOMPARE(Md5HexDigest(std::string("a\0b", 3)), std::string("70350f6027bce3713f6b76473084309b"));
}

QTEST_GUILESS_MAIN(TestMd5)
#include "tst_md5.moc"
