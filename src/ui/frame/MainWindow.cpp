#include "frame/MainWindow.h"

MainWindow::MainWindow(QWidget* ip_parent) : QMainWindow(ip_parent)
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("MainWindow"));
    resize(1000, 600);
    setWindowTitle(QStringLiteral("KestruneQt nightly build 10/18/2011"));
}
