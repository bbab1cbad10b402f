#include "core/platform/FileSizeLimit.h"
#include "core/platform/SingleInstanceGuard.h"
#include "core/platform/TerminationSignals.h"
#include "portmap/PortForwarder.h"
#include "ui/main/MainWindow.h"
#include "ui/widgets/DesktopServicesOpener.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QStyle>

namespace {

// Once termination was asked for, a modal dialog the start-up opens later
// (the first-start login after a data file that did not load) is closed as
// soon as it shows; otherwise its own loop would keep the process waiting.
class DialogCloserAfterTermination : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject* ip_watched, QEvent* ip_event) override
    {
        auto* lp_dialog = qobject_cast<QDialog*>(ip_watched);
        if (ip_event->type() == QEvent::Show && lp_dialog && lp_dialog->isModal())
            QMetaObject::invokeMethod(lp_dialog, &QDialog::reject, Qt::QueuedConnection);
        return false;
    }
};

}  // namespace

// The program's start-up: one instance per user, then the application, the
// main window and the event loop.
int qMain(int argc, char** argv)
{
    // Before anything else, so that a SIGTERM or SIGINT during start-up
    // ends the program through its event loop, not in the middle of it.
    TerminationSignals::InstallHandlers();
    // A file-size limit makes writes fail (logged, old files kept) instead
    // of killing the program in the middle of a save or a download.
    IgnoreFileSizeLimitSignal();

    // A second instance leaves at once, quietly. The guard is held until
    // the process ends, however it ends.
    SingleInstanceGuard l_guard;
    if (l_guard.TryAcquire() == SingleInstanceGuard::Result::HeldElsewhere)
        return 0;

    QApplication l_application(argc, argv);
    // The classic look; this toolkit no longer has it, and Fusion is its
    // descendant.
    if (!QApplication::setStyle(QStringLiteral("Plastique")))
        QApplication::setStyle(QStringLiteral("Fusion"));
    InstallDesktopServicesOpener();
    // Port forwarding talks to the real router only in the program itself;
    // tests install fakes.
    InstallRouterGateway();

    // Ending the loop on SIGTERM or SIGINT lets the window's shut-down run.
    // A signal that arrives in a modal dialog (the first-start login, a
    // message box) closes it, and when the start-up has not reached the main
    // loop yet, that loop is not entered at all. The handlers stay
    // in place until the window is gone, so a second signal cannot cut the
    // final save short.
    TerminationSignals l_termination;
    bool l_terminated = false;
    QObject::connect(&l_termination, &TerminationSignals::TerminationRequested, &l_application,
                     [&l_terminated, &l_application] {
                         if (!l_terminated)
                             l_application.installEventFilter(new DialogCloserAfterTermination(&l_application));
                         l_terminated = true;
                         for (QWidget* lp_window : QApplication::topLevelWidgets()) {
                             auto* lp_dialog = qobject_cast<QDialog*>(lp_window);
                             if (lp_dialog && lp_dialog->isVisible() && lp_dialog->isModal())
                                 lp_dialog->reject();
                         }
                         QCoreApplication::quit();
                     });

    MainWindow l_window;
    l_window.show();
    l_window.Init();
    if (l_terminated)
        return 0;
    return l_application.exec();
}

int main(int argc, char** argv)
{
    return qMain(argc, argv);
}
