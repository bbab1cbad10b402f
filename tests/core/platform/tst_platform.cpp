#include "core/platform/DesktopOpener.h"
#include "core/platform/LocalAddress.h"
#include "core/platform/Paths.h"
#include "core/platform/RandomSource.h"
#include "core/platform/SingleInstanceGuard.h"
#include "core/platform/TerminationSignals.h"

#include <QtTest>

#include <csignal>

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void pathsLiveInTheUserDataFolder();
    void desktopOpenerIsReplaceable();
    void randomSourceIsReplaceable();
    void localAddressTowardsLoopback();
    void guardAdmitsOneHolder();
    void guardWithoutUsableFolderDoesNotLockOut();
    void guardDefaultsToTheRuntimeFolder();
    void terminationSignalsBecomeAQtSignal();

private:
    QTemporaryDir m_home;
};

void TestPlatform::initTestCase()
{
    QVERIFY(m_home.isValid());
    qputenv("HOME", QFile::encodeName(m_home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path() + "/data"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_home.path()));
}

void TestPlatform::pathsLiveInTheUserDataFolder()
{
    const QString l_folder = m_home.path() + "/data/kestrune-client";
    QCOMPARE(UserDataFolder(), l_folder);
    QCOMPARE(LogFolder(), l_folder + "/kstr-client-logs");
    QCOMPARE(DefaultDownloadFolder(), m_home.path() + "/kestrune-downloads");
    QVERIFY(!QFileInfo::exists(l_folder));

    // Asking for the data file makes its folder, so that a save can succeed;
    // the log folder stays the user's choice.
    QCOMPARE(DataFilePath(), l_folder + "/kestrune-client.dat");
    QVERIFY(QFileInfo(l_folder).isDir());
    QVERIFY(!QFileInfo::exists(LogFolder()));
    QVERIFY(!QFileInfo::exists(DefaultDownloadFolder()));
}

void TestPlatform::desktopOpenerIsReplaceable()
{
    SetDesktopOpener({});
    QVERIFY(!OpenWithDesktop(QUrl("https://example.org/")));

    QList<QUrl> l_opened;
    bool l_answer = true;
    SetDesktopOpener([&](const QUrl& i_url) {
        l_opened.append(i_url);
        return l_answer;
    });
    QVERIFY(OpenWithDesktop(QUrl("https://example.org/page")));
    QVERIFY(OpenLocalPathWithDesktop("/tmp/some folder/file name.mp3"));
    l_answer = false;
    QVERIFY(!OpenLocalPathWithDesktop("/tmp"));
    // Nothing to open never reaches the desktop.
    QVERIFY(!OpenLocalPathWithDesktop(QString()));
    QVERIFY(!OpenWithDesktop(QUrl()));

    QCOMPARE(l_opened.size(), 3);
    QCOMPARE(l_opened[0], QUrl("https://example.org/page"));
    QVERIFY(l_opened[1].isLocalFile());
    QCOMPARE(l_opened[1].toLocalFile(), QString("/tmp/some folder/file name.mp3"));
    SetDesktopOpener({});
}

void TestPlatform::randomSourceIsReplaceable()
{
    quint32 l_next = 7;
    SetRandomSource([&l_next] { return l_next++; });
    QCOMPARE(NextRandom(), 7u);
    QCOMPARE(NextRandom(), 8u);

    SetRandomSource({});
    QSet<quint32> l_seen;
    for (int l_index = 0; l_index < 16; ++l_index)
        l_seen.insert(NextRandom());
    QVERIFY(l_seen.size() > 1);
}

void TestPlatform::localAddressTowardsLoopback()
{
    QCOMPARE(LocalIPv4Towards(QHostAddress("127.0.0.1")), QString("127.0.0.1"));
    // A peer that is not IPv4 falls back to the interfaces.
    QCOMPARE(LocalIPv4Towards(QHostAddress("::1")), FirstLocalIPv4());
    QCOMPARE(LocalIPv4Towards(QHostAddress()), FirstLocalIPv4());
    const QString l_first = FirstLocalIPv4();
    if (!l_first.isEmpty()) {
        const QHostAddress l_address(l_first);
        QCOMPARE(l_address.protocol(), QAbstractSocket::IPv4Protocol);
        QVERIFY(!l_address.isLoopback());
    }
}

void TestPlatform::guardAdmitsOneHolder()
{
    QTemporaryDir l_folder;
    SingleInstanceGuard l_first(l_folder.path());
    SingleInstanceGuard l_second(l_folder.path());
    QVERIFY(l_first.LockFilePath().startsWith(l_folder.path() + "/kestrune_qt_shared_memory"));

    QCOMPARE(l_first.TryAcquire(), SingleInstanceGuard::Result::Acquired);
    QCOMPARE(l_first.TryAcquire(), SingleInstanceGuard::Result::Acquired);
    QCOMPARE(l_second.TryAcquire(), SingleInstanceGuard::Result::HeldElsewhere);
    QVERIFY(!l_second.IsHeld());

    l_first.Release();
    QCOMPARE(l_second.TryAcquire(), SingleInstanceGuard::Result::Acquired);
    QCOMPARE(l_first.TryAcquire(), SingleInstanceGuard::Result::HeldElsewhere);
    {
        SingleInstanceGuard l_scoped(l_folder.path());
        l_second.Release();
        QCOMPARE(l_scoped.TryAcquire(), SingleInstanceGuard::Result::Acquired);
    }
    // Going out of scope released it.
    QCOMPARE(l_first.TryAcquire(), SingleInstanceGuard::Result::Acquired);
}

void TestPlatform::guardWithoutUsableFolderDoesNotLockOut()
{
    SingleInstanceGuard l_guard(m_home.path() + "/no/such/folder");
    QCOMPARE(l_guard.TryAcquire(), SingleInstanceGuard::Result::Unavailable);
    QVERIFY(!l_guard.IsHeld());
}

void TestPlatform::guardDefaultsToTheRuntimeFolder()
{
    QCOMPARE(SingleInstanceGuard::DefaultFolder(), m_home.path());
    SingleInstanceGuard l_guard;
    QCOMPARE(l_guard.LockFilePath(), m_home.path() + "/kestrune_qt_shared_memory.lock");

    // Without a runtime folder the shared temporary folder is used, with the
    // user's id in the name so users do not block each other.
    const QByteArray l_saved = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("XDG_RUNTIME_DIR");
    SingleInstanceGuard l_fallback;
    qputenv("XDG_RUNTIME_DIR", l_saved);
    QCOMPARE(QFileInfo(l_fallback.LockFilePath()).absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
    QVERIFY(l_fallback.LockFilePath().contains(QString::number(::getuid())));
}

void TestPlatform::terminationSignalsBecomeAQtSignal()
{
    // A signal that comes before anything watches waits for the event loop
    // instead of ending the process.
    QVERIFY(TerminationSignals::InstallHandlers());
    ::raise(SIGTERM);

    auto lp_signals = std::make_unique<TerminationSignals>();
    QVERIFY(lp_signals->IsWatching());
    // Only one object watches.
    TerminationSignals l_second;
    QVERIFY(!l_second.IsWatching());

    QSignalSpy l_spy(lp_signals.get(), &TerminationSignals::TerminationRequested);
    QTRY_COMPARE(l_spy.count(), 1);
    QCOMPARE(l_spy.at(0).at(0).toInt(), int(SIGTERM));
    ::raise(SIGINT);
    QTRY_COMPARE(l_spy.count(), 2);
    QCOMPARE(l_spy.at(1).at(0).toInt(), int(SIGINT));

    // Without the watcher the default actions are back.
    lp_signals.reset();
    struct sigaction l_action = {};
    QCOMPARE(::sigaction(SIGTERM, nullptr, &l_action), 0);
    QVERIFY(l_action.sa_handler == SIG_DFL);
    QCOMPARE(::sigaction(SIGINT, nullptr, &l_action), 0);
    QVERIFY(l_action.sa_handler == SIG_DFL);
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
