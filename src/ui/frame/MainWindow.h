#pragma once

#include <QMainWindow>

// The application's top-level window. For now only the bare frame: title and
// size; the tabs and the start-up of the services come with it later.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* ip_parent = nullptr);
};
