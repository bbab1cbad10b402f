// Starts the built client as a separate process to check the guard that
// keeps a second instance from running, and that a killed client does not
// keep the next one from starting.

#include "core/platform/SingleInstanceGuard.h"

#include <QtTest>

#include <csignal>

#ifndef KSTR_CLIENT_EXECUTABLE
#error "KSTR_CLIENT_EXECUTABLE must name the built client"
#endif

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void secondInstanceLeavesAtOnce();
    void killedInstanceDoesNotBlockTheNext();
    void terminationEndsTheEventLoopNormally();

private:
    // i_captureErrors keeps the error output for the test to read; else it
    // goes to the test's own.
    std::unique_ptr<QProcess> Start(bool i_captureErrors = false);
    // True once some process holds the guard (probing from here).
    bool WaitUntilGuardHeld(QProcess& i_process, int i_timeoutMs);

    QTemporaryDir m_home;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

void TestSingleInstance::initTestCase()
{
    QVERIFY(m_home.isValid());
    QVERIFY(QFileInfo(KSTR_CLIENT_EXECUTABLE).isExecutable());
    // The probe below looks where the client looks.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_home.path()));
}

void TestSingleInstance::init()
{
    QFile::remove(SingleInstanceGuard(m_home.path()).LockFilePath());
}

void TestSingleInstance::cleanup()
{
    for (auto& lp_process : m_processes) {
        if (lp_process->state() != QProcess::NotRunning) {
            lp_process->kill();
            lp_process->waitForFinished(10000);
        }
    }
    m_processes.clear();
}

std::unique_ptr<QProcess> TestSingleInstance::Start(bool i_captureErrors)
{
    auto lp_process = std::make_unique<QProcess>();
    QProcessEnvironment l_environment = QProcessEnvironment::systemEnvironment();
    l_environment.insert("HOME", m_home.path());
    l_environment.insert("XDG_RUNTIME_DIR", m_home.path());
    l_environment.insert("XDG_DATA_HOME", m_home.path() + "/data");
    l_environment.insert("XDG_CONFIG_HOME", m_home.path() + "/config");
    l_environment.insert("QT_QPA_PLATFORM", "offscreen");
    lp_process->setProcessEnvironment(l_environment);
    lp_process->setProgram(KSTR_CLIENT_EXECUTABLE);
    lp_process->setProcessChannelMode(i_captureErrors ? QProcess::SeparateChannels
                                                      : QProcess::ForwardedErrorChannel);
    lp_process->start();
    return lp_process;
}

bool TestSingleInstance::WaitUntilGuardHeld(QProcess& i_process, int i_timeoutMs)
{
    SingleInstanceGuard l_probe(m_home.path());
    QElapsedTimer l_timer;
    l_timer.start();
    while (l_timer.elapsed() < i_timeoutMs) {
        if (i_process.state() == QProcess::NotRunning)
            return false;
        if (l_probe.TryAcquire() == SingleInstanceGuard::Result::HeldElsewhere)
            return true;
        l_probe.Release();
        QTest::qWait(20);
    }
    return false;
}

void TestSingleInstance::secondInstanceLeavesAtOnce()
{
    auto lp_first = Start();
    QVERIFY(lp_first->waitForStarted(10000));
    QVERIFY(WaitUntilGuardHeld(*lp_first, 30000));

    auto lp_second = Start(true);
    QVERIFY(lp_second->waitForStarted(10000));
    QVERIFY2(lp_second->waitForFinished(30000), "the second instance kept running");
    QCOMPARE(lp_second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(lp_second->exitCode(), 0);
    // Quietly: not a word on either channel.
    QCOMPARE(lp_second->readAllStandardOutput(), QByteArray());
    QCOMPARE(lp_second->readAllStandardError(), QByteArray());

    // The first one is untouched by it.
    QCOMPARE(lp_first->state(), QProcess::Running);
    m_processes.push_back(std::move(lp_first));
}

void TestSingleInstance::killedInstanceDoesNotBlockTheNext()
{
    auto lp_first = Start();
    QVERIFY(lp_first->waitForStarted(10000));
    QVERIFY(WaitUntilGuardHeld(*lp_first, 30000));
    lp_first->kill(); // SIGKILL: no clean-up runs
    QVERIFY(lp_first->waitForFinished(10000));
    QCOMPARE(lp_first->exitStatus(), QProcess::CrashExit);
    // What the dead process left behind stays on disk.
    QVERIFY(QFileInfo::exists(SingleInstanceGuard(m_home.path()).LockFilePath()));

    auto lp_next = Start();
    QVERIFY(lp_next->waitForStarted(10000));
    QVERIFY2(WaitUntilGuardHeld(*lp_next, 30000), "the next start was refused");
    QCOMPARE(lp_next->state(), QProcess::Running);
    m_processes.push_back(std::move(lp_next));
}

void TestSingleInstance::terminationEndsTheEventLoopNormally()
{
    for (const int l_signal : {SIGTERM, SIGINT}) {
        auto lp_client = Start();
        QVERIFY(lp_client->waitForStarted(10000));
        QVERIFY(WaitUntilGuardHeld(*lp_client, 30000));
        ::kill(static_cast<pid_t>(lp_client->processId()), l_signal);
        QVERIFY(lp_client->waitForFinished(30000));
        QCOMPARE(lp_client->exitStatus(), QProcess::NormalExit);
        QCOMPARE(lp_client->exitCode(), 0);
    }
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
