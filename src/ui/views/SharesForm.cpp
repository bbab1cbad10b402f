#include "ui/views/SharesForm.h"

#include "ui/frame/ActionSetToolBar.h"
#include "ui/views/ShareForm.h"
#include "ui/widgets/UIFunctions.h"
#include "ui_SharesForm.h"

namespace
{
// A view-only type of items valued by a widget's or a row's address,
// related one to one to the listing type it stands for.
void DeclareNodeType(const char* ip_name, bool i_primary, const char* ip_listingType)
{
    d.GetType(ip_listingType)->RelateToType(d.NewType(ip_name, i_primary, false, true), One, One, false);
}
}  // namespace

SharesForm::SharesForm(QWidget* ip_parent) : QWidget(ip_parent), ui(new Ui::SharesForm)
{
    ui->setupUi(this);
}

SharesForm::~SharesForm()
{
    delete ui;
}

void SharesForm::Init()
{
    // Once per listing, when the shares service marks it complete: its
    // folders and files are in place by then.
    auto* lp_root = new PathNode(&d, "user_share");
    new PathNode(lp_root, "user_share_loaded", NewlyConnected);
    d.AddPathEventHandler(lp_root, MakeHandler(&SharesForm::OnUserShare));

    DeclareNodeType("user_share_tab", true, "user_share");
    DeclareNodeType("user_share_folder_node", false, "user_share_folder");
    DeclareNodeType("user_share_file_node", false, "user_share_file");

    connect(ui->tabControl, &QTabWidget::tabCloseRequested, this, &SharesForm::OnTabCloseRequested);

    const std::string l_transfer = ":/icons/transfer_icon";
    const std::string l_browse = ":/icons/browse_icon";
    actionBar->AddSetAction("share_folders", "download_share_folder", "Download Folder", l_transfer, true);
    actionBar->AddSetAction("share_folders", "expand_level", "Expand Level", l_browse, false);
    actionBar->AddSetAction("share_folders", "collapse_all", "Collapse All", l_browse, false);
    actionBar->AddSetAction("share_folders", "expand_all", "Expand All", l_browse, false);
    actionBar->AddSetAction("share_files", "download_share_file", "Download File", l_transfer, true);
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &SharesForm::OnToolBarActionTriggered);
}

// A new tab at the end, titled with the user's name; the current tab stays
// unless this is the only one.
void SharesForm::OnUserShare(Item* ip_share)
{
    auto* lp_page = new ShareForm(ip_share, this);
    const QString l_user = QString::fromLatin1(ItemPtr(ip_share)["user"].AsString());
    ui->tabControl->addTab(lp_page, LiteralLabel(l_user));
}

ShareForm* SharesForm::Page(int i_tabIndex) const
{
    return qobject_cast<ShareForm*>(ui->tabControl->widget(i_tabIndex));
}

void SharesForm::OnTabCloseRequested(int i_tabIndex)
{
    ShareForm* lp_page = Page(i_tabIndex);
    if (!lp_page)
        return;
    ui->tabControl->removeTab(i_tabIndex);
    lp_page->Delete();
}

void SharesForm::OnToolBarActionTriggered(std::string i_action)
{
    ShareForm* lp_page = Page(ui->tabControl->currentIndex());
    if (!lp_page)
        return;
    if (i_action == "expand_level")
        lp_page->ExpandLevel();
    else if (i_action == "collapse_all")
        lp_page->CollapseAll();
    else if (i_action == "expand_all")
        lp_page->ExpandAll();
}
