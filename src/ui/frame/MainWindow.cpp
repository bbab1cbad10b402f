#include "ui/frame/MainWindow.h"

#include "core/runtime/DelayedInvoker.h"
#include "core/runtime/TimerManager.h"
#include "server/Server.h"
#include "ui/frame/FrameResources.h"
#include "ui/widgets/DiagnosticsForm.h"

#include <QApplication>
#include <QIcon>
#include <QMoveEvent>
#include <QResizeEvent>

MainWindow* mainWindow = nullptr;
bool g_showIsOver = false;

MainWindow::MainWindow(QWidget* ip_parent) : QMainWindow(ip_parent)
{
    mainWindow = this;
    InitFrameResources();
    mp_diagnostics = new DiagnosticsForm(this);
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("MainWindow"));
    resize(1000, 600);
    setWindowTitle(QStringLiteral("KestruneQt nightly build 10/18/2011"));
    setCentralWidget(mp_diagnostics);
    SetApplicationIcon(QStringLiteral(":/icons/offline_icon"));
}

MainWindow::~MainWindow()
{
    g_showIsOver = true;
    delete mp_delayedInvoker;
    delete mp_timerManager;
}

void MainWindow::Init()
{
    mp_timerManager = new TimerManager;
    mp_delayedInvoker = new DelayedInvoker(nullptr);
    mp_diagnostics->Init();
}

void MainWindow::SetApplicationIcon(const QString& i_icon)
{
    const QIcon l_icon(i_icon);
    QApplication::setWindowIcon(l_icon);
    setWindowIcon(l_icon);
}

void MainWindow::ResetApplicationIcon()
{
    const bool l_online = gp_server && gp_server->IsConnected();
    SetApplicationIcon(l_online ? QStringLiteral(":/icons/online_icon") : QStringLiteral(":/icons/offline_icon"));
}

void MainWindow::moveEvent(QMoveEvent* ip_event)
{
    QMainWindow::moveEvent(ip_event);
    // The position as the proxy reads and sets it, without the frame: the
    // event's own position includes the frame on some platforms, and storing
    // that would move the window by the frame at every start.
    if (!isMaximized())
        emit m_sizeProxy.WindowMoved(geometry().x(), geometry().y());
}

void MainWindow::resizeEvent(QResizeEvent* ip_event)
{
    QMainWindow::resizeEvent(ip_event);
    if (!isMaximized())
        emit m_sizeProxy.WindowResized(ip_event->size().width(), ip_event->size().height());
}

int MainWindow::SizeProxy::GetX()
{
    return mainWindow->geometry().x();
}

int MainWindow::SizeProxy::GetY()
{
    return mainWindow->geometry().y();
}

int MainWindow::SizeProxy::GetWidth()
{
    return mainWindow->geometry().width();
}

int MainWindow::SizeProxy::GetHeight()
{
    return mainWindow->geometry().height();
}

void MainWindow::SizeProxy::SetPosition(int i_x, int i_y)
{
    const QRect l_geometry = mainWindow->geometry();
    mainWindow->setGeometry(i_x, i_y, l_geometry.width(), l_geometry.height());
}

void MainWindow::SizeProxy::SetSize(int i_width, int i_height)
{
    const QRect l_geometry = mainWindow->geometry();
    mainWindow->setGeometry(l_geometry.x(), l_geometry.y(), i_width, i_height);
}
