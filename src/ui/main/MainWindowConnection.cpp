// The window's side of the server link: the Connection menu, the icons, the
// refused-login boxes and the tray icon.
#include "core/persist/Settings.h"
#include "server/Server.h"
#include "ui/main/MainWindow.h"
#include "ui_MainWindow.h"

#include <QEvent>
#include <QMessageBox>
#include <QTimer>

// Disconnect stays usable while an attempt or the automatic retries run, so
// that the user can stop them.
void MainWindow::SetConnectionEntries(bool i_connectEnabled)
{
    ui->action_Connect->setEnabled(i_connectEnabled);
    const bool l_linkBusy = mp_server && (mp_server->GetState() != Server::State::Disconnected ||
                                          mp_server->IsAbruptlyDisconnected());
    ui->action_Disconnect->setEnabled(l_linkBusy);
}

void MainWindow::OnConnecting()
{
    SetConnectionEntries(false);
}

void MainWindow::OnConnected()
{
    SetConnectionEntries(false);
    SetApplicationIcon(QStringLiteral(":/icons/online_icon"));
    gp_server->GetOwnPrivilegesStatus();
}

void MainWindow::OnDisconnected()
{
    SetConnectionEntries(true);
    SetApplicationIcon(QStringLiteral(":/icons/offline_icon"));
}

void MainWindow::OnConnectionFailed(std::string i_reason)
{
    if (i_reason == "INVALIDPASS") {
        QMessageBox::information(this, tr("Login Failure: Wrong Password"),
                                 tr("Login failed. The password you supplied does not match your username. Please "
                                    "change your login settings in the Options tab and try reconnecting."));
    } else if (i_reason == "INVALIDUSERNAME") {
        QMessageBox::information(this, tr("Login Failure: Username is Invalid"),
                                 tr("Login failed. The username you supplied is invalid. Please change your login "
                                    "settings in the Options tab and try reconnecting."));
    } else if (!gp_server->IsAbruptlyDisconnected()) {
        // After the loss of a logged-in link the retries stay silent.
        QMessageBox::information(this, tr("Login Failure"),
                                 tr("Login failed. Reported failure reason: %1. Please change your login settings "
                                    "in the Options tab and try reconnecting.")
                                     .arg(QString::fromLatin1(i_reason.c_str())));
    }
    SetConnectionEntries(true);
}

void MainWindow::OnConnectMenuOptionClicked()
{
    mp_server->Connect();
}

void MainWindow::OnDisconnectMenuOptionClicked()
{
    mp_server->Disconnect();
}

void MainWindow::OnTrayIconActivated(QSystemTrayIcon::ActivationReason i_reason)
{
    if (i_reason != QSystemTrayIcon::Trigger)
        return;
    showNormal();
    activateWindow();
}

// Hidden instead of minimised only when a visible tray icon with an image can
// bring the window back; without one the window would be lost for good.
void MainWindow::changeEvent(QEvent* ip_event)
{
    QMainWindow::changeEvent(ip_event);
    if (ip_event->type() != QEvent::WindowStateChange || !isMinimized())
        return;
    if (!Settings::IsYes("minimize_to_tray") || !QSystemTrayIcon::isSystemTrayAvailable() ||
        !m_trayIcon.isVisible() || m_trayIcon.icon().isNull())
        return;
    // Hiding inside the state change confuses some window managers; the next
    // pass of the event loop is soon enough.
    QTimer::singleShot(0, this, [this] { setVisible(false); });
}
