#pragma once

#include <QList>
#include <QObject>
#include <QRect>
#include <QString>

class QSplitter;
class QTreeWidget;
class ResizableWindow;

// Remembers the geometry of windows, the pane sizes of splitters and the
// column widths of trees under names the callers choose, in saved item
// types, so they survive a restart. A registration applies what is stored
// under the name (or stores the widget's present sizes when nothing is);
// from then on each change the user makes is stored at once and copied to
// every other live widget of the same name.
class SizeManager : public QObject
{
    Q_OBJECT

public:
    // A restored window is never smaller than this.
    static constexpr int MinimumWindowWidth = 200;
    static constexpr int MinimumWindowHeight = 150;

    // Makes this object `sizeManager` and declares the types; after the data
    // saver exists (the types are registered with it) and before the load.
    explicit SizeManager(QObject* ip_parent = nullptr);
    ~SizeManager() override;

    void RegisterResizableWindow(QString i_name, ResizableWindow* ip_window);
    // i_defaultSizes are stored when nothing is stored yet (when empty, the
    // splitter's present sizes are); they are not applied.
    void RegisterSplitter(QString i_name, QSplitter* ip_splitter, QList<int> i_defaultSizes);
    void RegisterTreeWidget(QString i_name, QTreeWidget* ip_widget);

    // A stored window rectangle made safe to show: at least the minimum size,
    // at most the size of the screen area it overlaps most (the first area
    // when it overlaps none), and moved inside that area. With no area, only
    // the minimum size applies.
    // Taken as four numbers: stored ones may be anything, even a rectangle
    // whose right edge lies beyond the range of int.
    static QRect FitToScreens(int i_x, int i_y, int i_width, int i_height, const QList<QRect>& i_availableAreas);

public slots:
    void OnWindowMoved(int i_x, int i_y);
    void OnWindowResized(int i_width, int i_height);
    void OnSplitterMoved(int i_position, int i_index);
    void OnSplitterDestroyed(QObject* ip_splitter);
    void OnTreeColumnResizedMoved(int, int, int);
    void OnTreeDestroyed(QObject* ip_tree);

private:
    // Stores two numbers (x and y, or width and height) of the window whose
    // ResizableWindow sent the signal.
    void StoreWindowPair(const char* ip_firstType, int i_first, const char* ip_secondType, int i_second);

    bool m_resizing = false;
};

extern SizeManager* sizeManager;
