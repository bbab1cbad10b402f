#include "ui/frame/MainWindow.h"

#include "core/runtime/DelayedInvoker.h"
#include "core/runtime/TimerManager.h"
#include "ui/widgets/DiagnosticsForm.h"

MainWindow::MainWindow(QWidget* ip_parent) : QMainWindow(ip_parent), mp_diagnostics(new DiagnosticsForm(this))
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("MainWindow"));
    resize(1000, 600);
    setWindowTitle(QStringLiteral("KestruneQt nightly build 10/18/2011"));
    setCentralWidget(mp_diagnostics);
}

MainWindow::~MainWindow()
{
    delete mp_delayedInvoker;
    delete mp_timerManager;
}

void MainWindow::Init()
{
    mp_timerManager = new TimerManager;
    mp_delayedInvoker = new DelayedInvoker(nullptr);
    mp_diagnostics->Init();
}
