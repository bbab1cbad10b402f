#include "BenchMainWindow.h"

#include "peer/PeerEnvironment.h"
#include "ui/main/MainWindow.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QHostAddress>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpServer>

namespace
{
// Answers the login dialog and closes message boxes.
void AnswerDialogs()
{
    for (QWidget* lp_window : QApplication::topLevelWidgets()) {
        if (!lp_window->isVisible())
            continue;
        if (auto* lp_box = qobject_cast<QMessageBox*>(lp_window)) {
            lp_box->done(0);
            continue;
        }
        auto* lp_dialog = qobject_cast<QDialog*>(lp_window);
        if (!lp_dialog || !lp_dialog->findChild<QLineEdit*>("passwordEdit"))
            continue;
        lp_dialog->findChild<QLineEdit*>("usernameEdit")->setText("bencher");
        lp_dialog->findChild<QLineEdit*>("passwordEdit")->setText("pw");
        lp_dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    }
}
}  // namespace

BenchMainWindow::BenchMainWindow()
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path()));
    QTcpServer l_closed;
    l_closed.listen(QHostAddress::LocalHost, 0);
    const quint16 l_port = l_closed.serverPort();
    l_closed.close();
    qputenv("KSTR_SERVER_ADDRESS", "127.0.0.1:" + QByteArray::number(l_port));
    SetPeerListenFunction([](QTcpServer& io_server, quint16) { return io_server.listen(QHostAddress::LocalHost, 0); });

    QObject::connect(&m_answerer, &QTimer::timeout, &AnswerDialogs);
    m_answerer.start(10);
    mp_window = std::make_unique<MainWindow>();
    mp_window->show();
    mp_window->Init();
}

BenchMainWindow::~BenchMainWindow()
{
    mp_window.reset();
}
