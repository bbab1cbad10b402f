#pragma once

#include "core/store/Data.h"

#include <QWidget>

#include <string>

class FilterParser;
class QShowEvent;
class QTreeWidgetItem;

namespace Ui {
class ShareForm;
}

// The browse page of one received listing ("user_share"): the user's
// folders as a tree, the current folder's files with size and attributes,
// a filter line, and downloads of a file or of a folder with everything
// below it.
//
// The page reads the listing from the store and adds only node items that
// tie its rows to the listing's folders and files (valued by the row's
// address), and one "user_share_tab" item valued by its own address. A page
// removes only its own rows' node items.
//
// When its listing is removed by anyone else (a new listing of the same user
// replaces it), the page lets go of it at once: it drops its rows, removes
// its tab item, takes its tab out of the tab set and is deleted from the
// event loop. Delete, the close by hand, removes the listing itself.
class ShareForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    ShareForm(Item* ip_share, QWidget* ip_parent);
    ~ShareForm() override;

    // Removes the listing, the page's items and the page itself.
    void Delete();
    // Opens the folder tree one level further, up to the deepest.
    void ExpandLevel();
    void CollapseAll();
    void ExpandAll();

    Ui::ShareForm* Form() const { return ui; }
    // The listing shown; null once it is gone.
    Item* ShareItem() const { return mp_shareItem; }
    int MaxLevel() const { return m_maxLevel; }

    // Store handler: a "user_share" item is being removed.
    void OnShareRemoved(Item* ip_share);

public slots:
    void OnCurrentItemChanged(QTreeWidgetItem* ip_current, QTreeWidgetItem* ip_previous);
    void OnActionBarTriggered(std::string i_action);
    void OnFilterTextChanged(QString i_text);

protected:
    void showEvent(QShowEvent* ip_event) override;

private:
    void SetUpWidgets();
    void BuildFolderTree();
    // Shows or hides every folder row after the filter; see the .cpp.
    void FilterFolderTree(const FilterParser& i_filter);
    void DownloadFolder(ItemPtr i_folder);
    void DownloadSelectedFiles();
    // Empties the file list and removes its rows' node items.
    void ClearFileList();
    // Removes the node items of every row of both trees.
    void RemoveRowNodes();
    void StopWatchingShare();
    void RemoveTabItem();
    void SetExpandLevelText();

    // The folder of a folder-tree row, the file of a file-list row; null
    // when the row has none (any more).
    static ItemPtr FolderOf(QTreeWidgetItem* ip_row);
    static ItemPtr FileOf(QTreeWidgetItem* ip_row);

    Ui::ShareForm* ui;
    Item* mp_shareItem;
    // Depth of the deepest folder row (a top-level row has depth 0).
    int m_maxLevel = 0;
    // Levels opened by ExpandLevel since the last reset.
    int m_expandLevel = 0;
    EventHandlerRoot* mp_removalHandler = nullptr;
};
