#include "ui/frame/SizeManager.h"

#include "core/persist/DataSaver.h"
#include "core/store/Data.h"
#include "core/util/GeneralFunctions.h"
#include "ui/frame/ResizableWindow.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QSplitter>
#include <QTreeWidget>

#include <algorithm>

SizeManager* sizeManager = nullptr;

namespace {

Type* T(const char* ip_name)
{
    return d.GetType(ip_name);
}

// Connects the item to the value item of that type (the one-valued relation
// drops the old partner) and removes the old partner when nothing else
// holds it.
void ReplaceValue(ItemPtr i_item, const char* ip_type, int i_value)
{
    ItemPtr l_old = i_item[ip_type];
    i_item += T(ip_type)->GetItem(i_value);
    if (!l_old.IsNull() && l_old.IsDisconnectedFromAll())
        l_old.Remove();
}

// The columns whose widths are stored: all but a last column that stretches.
int StoredColumnCount(const QHeaderView* ip_header)
{
    const int l_count = ip_header->count();
    return ip_header->stretchLastSection() && l_count > 0 ? l_count - 1 : l_count;
}

// The stored entry (column or pane) with this number, made when missing.
ItemPtr NumberedEntry(ItemPtr i_layout, const char* ip_entryType, const char* ip_numberType, int i_number)
{
    ItemPtr l_number = T(ip_numberType)->GetItem(i_number);
    ItemPtr l_entry = d.GetItem(i_layout, l_number, ip_entryType);
    if (l_entry.IsNull()) {
        l_entry = i_layout.NewItem(ip_entryType);
        l_entry += l_number;
    }
    return l_entry;
}

// The stored entries' sizes, ordered by their numbers, with the numbers.
QList<std::pair<int, int>> StoredSizes(ItemPtr i_layout, const char* ip_entryType, const char* ip_numberType)
{
    QList<std::pair<int, int>> l_sizes;
    for (const ItemPtr& l_entry : i_layout.GetItems(ip_entryType).SortNumericBy(ip_numberType, true))
        l_sizes.append({l_entry[ip_numberType].AsInt(), l_entry["sizer_size"].AsInt()});
    return l_sizes;
}

QList<QRect> AvailableScreenAreas()
{
    QList<QRect> l_areas;
    for (const QScreen* lp_screen : QGuiApplication::screens())
        l_areas.append(lp_screen->availableGeometry());
    return l_areas;
}

}  // namespace

SizeManager::SizeManager(QObject* ip_parent) : QObject(ip_parent)
{
    sizeManager = this;
    Type* lp_window = d.NewType("sizer_window", true, false, true);
    Type* lp_windowWidget = d.NewType("sizer_window_widget", true, false, true);
    Type* lp_x = d.NewType("sizer_x", false, false, true);
    Type* lp_y = d.NewType("sizer_y", false, false, true);
    Type* lp_width = d.NewType("sizer_width", false, false, true);
    Type* lp_height = d.NewType("sizer_height", false, false, true);
    Type* lp_size = d.NewType("sizer_size", false, false, true);
    Type* lp_tree = d.NewType("sizer_tree", true, false, true);
    Type* lp_treeWidget = d.NewType("sizer_tree_widget", true, false, true);
    Type* lp_columnNumber = d.NewType("sizer_tree_column_number", false, false, true);
    Type* lp_column = d.NewType("sizer_tree_column", false, true, true);
    Type* lp_splitter = d.NewType("sizer_splitter", true, false, true);
    Type* lp_splitterWidget = d.NewType("sizer_splitter_widget", true, false, true);
    Type* lp_paneNumber = d.NewType("sizer_splitter_index_number", false, false, true);
    Type* lp_pane = d.NewType("sizer_splitter_index", false, true, true);

    lp_window->RelateToType(lp_windowWidget, One, One, false);
    for (Type* lp_coordinate : {lp_x, lp_y, lp_width, lp_height})
        lp_window->RelateToType(lp_coordinate, Many, One, false);
    lp_tree->RelateToType(lp_treeWidget, One, Many, false);
    lp_column->RelateToType(lp_tree, Many, One, false);
    lp_column->RelateToType(lp_columnNumber, Many, One, false);
    lp_column->RelateToType(lp_size, Many, One, false);
    lp_splitter->RelateToType(lp_splitterWidget, One, Many, false);
    lp_pane->RelateToType(lp_splitter, Many, One, false);
    lp_pane->RelateToType(lp_paneNumber, Many, One, false);
    lp_pane->RelateToType(lp_size, Many, One, false);

    if (dataSaver) {
        for (const char* lp_saved :
             {"sizer_window", "sizer_tree", "sizer_tree_column_number", "sizer_tree_column", "sizer_splitter",
              "sizer_splitter_index_number", "sizer_splitter_index", "sizer_x", "sizer_y", "sizer_width",
              "sizer_height", "sizer_size"})
            dataSaver->AddSavedType(lp_saved);
    }
}

SizeManager::~SizeManager()
{
    if (sizeManager == this)
        sizeManager = nullptr;
}

QRect SizeManager::FitToScreens(int i_x, int i_y, int i_width, int i_height, const QList<QRect>& i_availableAreas)
{
    // In 64 bits: the sums below may pass the range of int.
    long long l_width = std::max(i_width, MinimumWindowWidth);
    long long l_height = std::max(i_height, MinimumWindowHeight);
    if (i_availableAreas.isEmpty())
        return QRect(i_x, i_y, static_cast<int>(l_width), static_cast<int>(l_height));

    QRect l_area = i_availableAreas.first();
    long long l_bestOverlap = 0;
    for (const QRect& l_candidate : i_availableAreas) {
        const long long l_overlapWidth = std::min<long long>(i_x + l_width, l_candidate.x() + l_candidate.width()) -
                                         std::max<long long>(i_x, l_candidate.x());
        const long long l_overlapHeight = std::min<long long>(i_y + l_height, l_candidate.y() + l_candidate.height()) -
                                          std::max<long long>(i_y, l_candidate.y());
        if (l_overlapWidth > 0 && l_overlapHeight > 0 && l_overlapWidth * l_overlapHeight > l_bestOverlap) {
            l_bestOverlap = l_overlapWidth * l_overlapHeight;
            l_area = l_candidate;
        }
    }
    l_width = std::min<long long>(l_width, l_area.width());
    l_height = std::min<long long>(l_height, l_area.height());
    const long long l_x = std::clamp<long long>(i_x, l_area.x(), l_area.x() + l_area.width() - l_width);
    const long long l_y = std::clamp<long long>(i_y, l_area.y(), l_area.y() + l_area.height() - l_height);
    return QRect(static_cast<int>(l_x), static_cast<int>(l_y), static_cast<int>(l_width), static_cast<int>(l_height));
}

void SizeManager::RegisterResizableWindow(QString i_name, ResizableWindow* ip_window)
{
    const std::string l_name = ToLatin1Text(i_name);
    ItemPtr l_window = T("sizer_window")->HasItem(l_name);
    if (!l_window.IsNull()) {
        // Moved first, then resized, after the stored rectangle has been
        // made to fit the screens of this run.
        const QRect l_fitted = FitToScreens(l_window["sizer_x"].AsInt(), l_window["sizer_y"].AsInt(),
                                            l_window["sizer_width"].AsInt(), l_window["sizer_height"].AsInt(),
                                            AvailableScreenAreas());
        ip_window->SetPosition(l_fitted.x(), l_fitted.y());
        ip_window->SetSize(l_fitted.width(), l_fitted.height());
    } else {
        l_window = T("sizer_window")->GetItem(l_name);
        l_window += T("sizer_x")->GetItem(ip_window->GetX());
        l_window += T("sizer_y")->GetItem(ip_window->GetY());
        l_window += T("sizer_width")->GetItem(ip_window->GetWidth());
        l_window += T("sizer_height")->GetItem(ip_window->GetHeight());
    }
    T("sizer_window_widget")->GetItem(Value(ip_window)) += l_window;
    connect(ip_window, &ResizableWindow::WindowMoved, this, &SizeManager::OnWindowMoved, Qt::UniqueConnection);
    connect(ip_window, &ResizableWindow::WindowResized, this, &SizeManager::OnWindowResized, Qt::UniqueConnection);
}

void SizeManager::StoreWindowPair(const char* ip_firstType, int i_first, const char* ip_secondType, int i_second)
{
    ItemPtr l_window = T("sizer_window_widget")->HasItem(Value(sender()))["sizer_window"];
    if (l_window.IsNull())
        return;
    ReplaceValue(l_window, ip_firstType, i_first);
    ReplaceValue(l_window, ip_secondType, i_second);
}

void SizeManager::OnWindowMoved(int i_x, int i_y)
{
    StoreWindowPair("sizer_x", i_x, "sizer_y", i_y);
}

void SizeManager::OnWindowResized(int i_width, int i_height)
{
    StoreWindowPair("sizer_width", i_width, "sizer_height", i_height);
}

void SizeManager::RegisterTreeWidget(QString i_name, QTreeWidget* ip_widget)
{
    const std::string l_name = ToLatin1Text(i_name);
    QHeaderView* lp_header = ip_widget->header();
    ItemPtr l_tree = T("sizer_tree")->HasItem(l_name);
    if (!l_tree.IsNull()) {
        for (const auto& [l_column, l_width] : StoredSizes(l_tree, "sizer_tree_column", "sizer_tree_column_number"))
            lp_header->resizeSection(l_column, l_width);
    } else {
        l_tree = T("sizer_tree")->GetItem(l_name);
        for (int l_column = 0; l_column < StoredColumnCount(lp_header); ++l_column) {
            ItemPtr l_entry = l_tree.NewItem("sizer_tree_column");
            l_entry += T("sizer_tree_column_number")->GetItem(l_column);
            l_entry += T("sizer_size")->GetItem(lp_header->sectionSize(l_column));
        }
    }
    T("sizer_tree_widget")->GetItem(Value(ip_widget)) += l_tree;
    connect(lp_header, &QHeaderView::sectionResized, this, &SizeManager::OnTreeColumnResizedMoved, Qt::UniqueConnection);
    connect(ip_widget, &QObject::destroyed, this, &SizeManager::OnTreeDestroyed, Qt::UniqueConnection);
}

void SizeManager::OnTreeColumnResizedMoved(int, int, int)
{
    if (m_resizing)
        return;
    QHeaderView* lp_header = qobject_cast<QHeaderView*>(sender());
    QTreeWidget* lp_treeWidget = lp_header ? qobject_cast<QTreeWidget*>(lp_header->parent()) : nullptr;
    if (!lp_treeWidget)
        return;
    ItemPtr l_tree = T("sizer_tree_widget")->HasItem(Value(lp_treeWidget))["sizer_tree"];
    if (l_tree.IsNull())
        return;
    m_resizing = true;
    const ItemSet l_widgets = l_tree.GetItems("sizer_tree_widget");
    for (int l_column = 0; l_column < StoredColumnCount(lp_header); ++l_column) {
        const int l_width = lp_header->sectionSize(l_column);
        ReplaceValue(NumberedEntry(l_tree, "sizer_tree_column", "sizer_tree_column_number", l_column), "sizer_size", l_width);
        for (Item* lp_widget : l_widgets) {
            QTreeWidget* lp_other = ItemPtr(lp_widget).AsObject<QTreeWidget>();
            if (lp_other != lp_treeWidget)
                lp_other->header()->resizeSection(l_column, l_width);
        }
    }
    m_resizing = false;
}

void SizeManager::OnTreeDestroyed(QObject* ip_tree)
{
    ItemPtr l_widget = T("sizer_tree_widget")->HasItem(Value(ip_tree));
    if (!l_widget.IsNull())
        l_widget.Remove();
}

void SizeManager::RegisterSplitter(QString i_name, QSplitter* ip_splitter, QList<int> i_defaultSizes)
{
    const std::string l_name = ToLatin1Text(i_name);
    ItemPtr l_splitter = T("sizer_splitter")->HasItem(l_name);
    if (!l_splitter.IsNull()) {
        QList<int> l_sizes;
        for (const auto& l_pane : StoredSizes(l_splitter, "sizer_splitter_index", "sizer_splitter_index_number"))
            l_sizes.append(l_pane.second);
        ip_splitter->setSizes(l_sizes);
    } else {
        l_splitter = T("sizer_splitter")->GetItem(l_name);
        const QList<int> l_sizes = i_defaultSizes.isEmpty() ? ip_splitter->sizes() : i_defaultSizes;
        for (int l_pane = 0; l_pane < l_sizes.size(); ++l_pane) {
            ItemPtr l_entry = l_splitter.NewItem("sizer_splitter_index");
            l_entry += T("sizer_splitter_index_number")->GetItem(l_pane);
            l_entry += T("sizer_size")->GetItem(l_sizes[l_pane]);
        }
    }
    T("sizer_splitter_widget")->GetItem(Value(ip_splitter)) += l_splitter;
    connect(ip_splitter, &QSplitter::splitterMoved, this, &SizeManager::OnSplitterMoved, Qt::UniqueConnection);
    connect(ip_splitter, &QObject::destroyed, this, &SizeManager::OnSplitterDestroyed, Qt::UniqueConnection);
}

void SizeManager::OnSplitterMoved(int, int)
{
    if (m_resizing)
        return;
    QSplitter* lp_splitter = qobject_cast<QSplitter*>(sender());
    if (!lp_splitter)
        return;
    ItemPtr l_layout = T("sizer_splitter_widget")->HasItem(Value(lp_splitter))["sizer_splitter"];
    if (l_layout.IsNull())
        return;
    const QList<int> l_sizes = lp_splitter->sizes();
    for (int l_pane = 0; l_pane < l_sizes.size(); ++l_pane)
        ReplaceValue(NumberedEntry(l_layout, "sizer_splitter_index", "sizer_splitter_index_number", l_pane), "sizer_size",
                     l_sizes[l_pane]);
    m_resizing = true;
    for (Item* lp_widget : l_layout.GetItems("sizer_splitter_widget")) {
        QSplitter* lp_other = ItemPtr(lp_widget).AsObject<QSplitter>();
        if (lp_other != lp_splitter)
            lp_other->setSizes(l_sizes);
    }
    m_resizing = false;
}

void SizeManager::OnSplitterDestroyed(QObject* ip_splitter)
{
    ItemPtr l_widget = T("sizer_splitter_widget")->HasItem(Value(ip_splitter));
    if (!l_widget.IsNull())
        l_widget.Remove();
}
