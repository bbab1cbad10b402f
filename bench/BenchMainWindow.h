#pragma once

#include <QTemporaryDir>
#include <QTimer>

#include <memory>

class MainWindow;

// The main window in a benchmark process, as the program builds it: made,
// shown (offscreen unless QT_QPA_PLATFORM says otherwise) and initialised,
// with a data folder of its own (XDG_DATA_HOME, deleted at the end), its
// peer listeners on free loopback ports and its server link pointed at a
// port where nothing listens. While it lives, the first-start login dialog
// is answered ("bencher") and any message box closed, looked for every
// 10 ms unless AnswerEvery says otherwise. Made after the
// application object; the window goes, shutting its services down, before
// the folder.
class BenchMainWindow
{
public:
    BenchMainWindow();
    ~BenchMainWindow();
    BenchMainWindow(const BenchMainWindow&) = delete;
    BenchMainWindow& operator=(const BenchMainWindow&) = delete;

    MainWindow& Window() { return *mp_window; }
    // Looks for dialogs that often from now on. The look costs the GUI
    // thread a pass over the top-level widgets and a wake-up each time;
    // a box the failed connections bring (its own event loop runs on
    // meanwhile) then stays that long.
    void AnswerEvery(int i_ms) { m_answerer.setInterval(i_ms); }

private:
    QTemporaryDir m_home;
    QTimer m_answerer;
    std::unique_ptr<MainWindow> mp_window;
};
