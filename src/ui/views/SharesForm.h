#pragma once

#include "core/store/Data.h"

#include <QWidget>

#include <string>

namespace Ui {
class SharesForm;
}

class ShareForm;

// The Shares page: a tab set with one browse page per received listing of
// another user's share. A page opens when a listing is complete in the
// store and closes with the close button of its tab, taking the listing
// with it. The tab set carries out the folder trees' expand commands on the
// page in front; the pages handle their own downloads.
//
// Life: construct (widgets only), then Init once, after the action bar and
// the shares service exist and before the data file loads. GUI thread only.
class SharesForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit SharesForm(QWidget* ip_parent = nullptr);
    ~SharesForm() override;

    void Init();
    // Store handler: the listing of the "user_share" item is complete.
    void OnUserShare(Item* ip_share);

    Ui::SharesForm* Form() const { return ui; }
    // The page of a tab, or null.
    ShareForm* Page(int i_tabIndex) const;

public slots:
    void OnTabCloseRequested(int i_tabIndex);
    void OnToolBarActionTriggered(std::string i_action);

private:
    Ui::SharesForm* ui;
};
