#pragma once

#include <QMainWindow>

class DelayedInvoker;
class DiagnosticsForm;
class TimerManager;

// The application's top-level window. For now a bare frame around the
// Diagnostics page: Init starts the core services that exist so far (the
// application timers and the deferred-call service); the other tabs and the
// start-up of the network services come with the full window.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* ip_parent = nullptr);
    ~MainWindow() override;

    void Init();

private:
    DiagnosticsForm* mp_diagnostics = nullptr;
    TimerManager* mp_timerManager = nullptr;
    DelayedInvoker* mp_delayedInvoker = nullptr;
};
