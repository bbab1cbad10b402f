// Starts the built client as a separate process, with a home of its own and
// a fake central server, and checks what it does with the data file it finds
// there: logs in with the saved account, listens on the saved port, keeps a
// damaged file, and ends cleanly on SIGTERM with a file that loads again.

#include "FakeCentralServer.h"

#include "core/persist/DataSaver.h"
#include "core/persist/Settings.h"
#include "core/platform/Paths.h"
#include "core/store/Data.h"

#include <QtTest>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>

#include <csignal>
#include <memory>

#ifndef KSTR_CLIENT_EXECUTABLE
#error "KSTR_CLIENT_EXECUTABLE must name the built client"
#endif

namespace {

constexpr int ProcessTimeoutMs = 15000;  // generous: the client runs sanitized
constexpr quint32 LoginCode = 1;
const char* const User = "wren";
const char* const Password = "s3cret pass";

QByteArray WireString(const QByteArray& i_text)
{
    QByteArray l_bytes(4, '\0');
    qToLittleEndian<quint32>(static_cast<quint32>(i_text.size()), l_bytes.data());
    return l_bytes + i_text;
}

// A port nobody listens on right now, inside this test's namespace.
quint16 FreePort()
{
    QTcpServer l_probe;
    if (!l_probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 l_port = l_probe.serverPort();
    l_probe.close();
    return l_port;
}

}  // namespace

class TestClientProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void logsInWithTheSavedAccountAndSavesOnTermination();
    void damagedFileIsKeptAndTerminationEndsTheErrorBox();
    void listensOnTheSavedPort();

private:
    // Writes the data file the way the client does, with these settings.
    void WriteDataFile(const std::vector<std::pair<std::string, std::string>>& i_settings);
    // Loads the data file into a fresh store; empty with the reason on failure.
    QString LoadDataFile(std::string& o_user);
    void Start();
    // SIGTERM, then the exit is expected to be a normal one with code 0.
    void TerminateCleanly();
    bool LogContains(const QString& i_text) const;

    FakeCentralServer m_server;
    std::unique_ptr<QTemporaryDir> mp_home;
    std::unique_ptr<QProcess> mp_client;
};

void TestClientProcess::initTestCase()
{
    QVERIFY(QFileInfo(KSTR_CLIENT_EXECUTABLE).isExecutable());
    QVERIFY(m_server.Start());
}

void TestClientProcess::init()
{
    mp_home = std::make_unique<QTemporaryDir>();
    QVERIFY(mp_home->isValid());
    // The test finds the data file and the log where the client puts them.
    qputenv("HOME", QFile::encodeName(mp_home->path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(mp_home->path() + "/data"));
    QVERIFY(QDir().mkpath(LogFolder()));
    m_server.ClearReceived();
}

void TestClientProcess::cleanup()
{
    if (mp_client && mp_client->state() != QProcess::NotRunning) {
        mp_client->kill();
        mp_client->waitForFinished(ProcessTimeoutMs);
    }
    mp_client.reset();
    m_server.DropClient();
    d.Reset();
}

void TestClientProcess::WriteDataFile(const std::vector<std::pair<std::string, std::string>>& i_settings)
{
    d.Reset();
    DataSaver l_saver;
    Settings::DeclareTypes();
    for (const auto& [l_name, l_value] : i_settings)
        Settings::Set(l_name.c_str(), l_value);
    l_saver.Save(QFile::encodeName(DataFilePath()).constData());
    QVERIFY(QFileInfo(DataFilePath()).size() > 0);
}

QString TestClientProcess::LoadDataFile(std::string& o_user)
{
    d.Reset();
    DataSaver l_saver;
    Settings::DeclareTypes();
    try {
        l_saver.Load(QFile::encodeName(DataFilePath()).constData());
    } catch (const DataLoadFailure& i_failure) {
        return QString::fromStdString(i_failure.m_reason);
    }
    o_user = Settings::Get("username");
    return {};
}

void TestClientProcess::Start()
{
    mp_client = std::make_unique<QProcess>();
    QProcessEnvironment l_environment = QProcessEnvironment::systemEnvironment();
    l_environment.insert("HOME", mp_home->path());
    l_environment.insert("XDG_RUNTIME_DIR", mp_home->path());
    l_environment.insert("XDG_DATA_HOME", mp_home->path() + "/data");
    l_environment.insert("XDG_CONFIG_HOME", mp_home->path() + "/config");
    l_environment.insert("XDG_CACHE_HOME", mp_home->path() + "/cache");
    l_environment.insert("QT_QPA_PLATFORM", "offscreen");
    l_environment.insert("KSTR_SERVER_ADDRESS", QStringLiteral("127.0.0.1:%1").arg(m_server.Port()));
    mp_client->setProcessEnvironment(l_environment);
    mp_client->setProgram(KSTR_CLIENT_EXECUTABLE);
    mp_client->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mp_client->start();
    QVERIFY(mp_client->waitForStarted(ProcessTimeoutMs));
}

void TestClientProcess::TerminateCleanly()
{
    QCOMPARE(mp_client->state(), QProcess::Running);
    ::kill(static_cast<pid_t>(mp_client->processId()), SIGTERM);
    QVERIFY2(mp_client->waitForFinished(ProcessTimeoutMs), "the client kept running after SIGTERM");
    QCOMPARE(mp_client->exitStatus(), QProcess::NormalExit);
    QCOMPARE(mp_client->exitCode(), 0);
}

bool TestClientProcess::LogContains(const QString& i_text) const
{
    QFile l_log(LogFolder() + "/main.log");
    return l_log.open(QIODevice::ReadOnly) && QString::fromUtf8(l_log.readAll()).contains(i_text);
}

void TestClientProcess::logsInWithTheSavedAccountAndSavesOnTermination()
{
    WriteDataFile({{"username", User}, {"password", Password}});
    Start();
    if (QTest::currentTestFailed())
        return;
    QVERIFY(m_server.WaitFor(LoginCode, 1, ProcessTimeoutMs));
    QTRY_VERIFY_WITH_TIMEOUT(m_server.IsLoggedIn(User), ProcessTimeoutMs);
    QVERIFY(m_server.Received(LoginCode).first().m_payload.startsWith(WireString(User) + WireString(Password)));

    TerminateCleanly();
    if (QTest::currentTestFailed())
        return;
    std::string l_user;
    const QString l_failure = LoadDataFile(l_user);
    QVERIFY2(l_failure.isEmpty(), qPrintable(l_failure));
    QCOMPARE(l_user, std::string(User));
    QVERIFY(!QFileInfo::exists(DataFilePath() + ".damaged"));
}

void TestClientProcess::damagedFileIsKeptAndTerminationEndsTheErrorBox()
{
    WriteDataFile({{"username", User}, {"password", Password}});
    QFile l_file(DataFilePath());
    QVERIFY(l_file.open(QIODevice::ReadWrite));
    const QByteArray l_whole = l_file.readAll();
    QVERIFY(l_file.resize(l_whole.size() / 2));
    l_file.close();
    const QByteArray l_truncated = l_whole.left(l_whole.size() / 2);

    Start();
    if (QTest::currentTestFailed())
        return;
    // The failure is logged just before the modal error box opens.
    QTRY_VERIFY_WITH_TIMEOUT(LogContains("The data file could not be loaded"), ProcessTimeoutMs);
    QTest::qWait(500);
    TerminateCleanly();
    if (QTest::currentTestFailed())
        return;
    // Nothing logged in from a file that did not load.
    QCOMPARE(m_server.CountOf(LoginCode), 0);

    QFile l_damaged(DataFilePath() + ".damaged");
    QVERIFY2(l_damaged.open(QIODevice::ReadOnly), "the damaged file was not kept");
    QCOMPARE(l_damaged.readAll(), l_truncated);
    // What the client saved instead loads again, without the lost account.
    std::string l_user = "unset";
    const QString l_failure = LoadDataFile(l_user);
    QVERIFY2(l_failure.isEmpty(), qPrintable(l_failure));
    QCOMPARE(l_user, std::string());
}

void TestClientProcess::listensOnTheSavedPort()
{
    const quint16 l_port = FreePort();
    QVERIFY(l_port != 0);
    WriteDataFile({{"username", User}, {"password", Password}, {"listening_port", std::to_string(l_port)}});
    Start();
    if (QTest::currentTestFailed())
        return;

    QTcpSocket l_socket;
    QElapsedTimer l_timer;
    l_timer.start();
    bool l_connected = false;
    while (!l_connected && l_timer.elapsed() < ProcessTimeoutMs && mp_client->state() == QProcess::Running) {
        l_socket.connectToHost(QHostAddress::LocalHost, l_port);
        l_connected = l_socket.waitForConnected(1000);
        if (!l_connected) {
            l_socket.abort();
            QTest::qWait(100);
        }
    }
    QVERIFY2(l_connected, "nothing listens on the saved port");
    l_socket.abort();
    TerminateCleanly();
}

QTEST_GUILESS_MAIN(TestClientProcess)
#include "tst_client_process.moc"
