#pragma once

#include "core/store/Data.h"

#include <QObject>
#include <QString>

class QMenu;

// The download commands of the downloads tree's context menu, for the
// entries under the clicked row: "Open File" (one finished download),
// "Open Folder", "Remove download(s)" and "Re-run Search: <text>" (when the
// first download came from a search). The object lives on the caller's
// stack while the menu runs and carries out the chosen entry.
//
// The menu runs its own event loop, so downloads can go while it is open:
// the object drops them from its set as they are removed, and an entry
// chosen afterwards acts on what is left.
class DownloadMenuOptions : public QObject, public DataHandler
{
    Q_OBJECT

public:
    // Adds nothing for an empty set; otherwise a separator first when the
    // menu holds entries already.
    DownloadMenuOptions(QMenu* ip_menu, ItemSet i_downloads, QObject* ip_parent);

    void OnDownloadRemoved(Item* ip_download);

public slots:
    void OnOpenFile();
    void OnOpenFolder();
    void OnRemoveDownloads();
    void OnRerunSearch();

private:
    // The first download of the set (in item order) that is still there.
    ItemPtr FirstDownload() const { return m_downloads; }
    void OpenCompleteTarget(bool i_folder);

    ItemSet m_downloads;
    QString m_searchText;
};
