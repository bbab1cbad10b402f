#include "ui/views/SearchResultsForm.h"

#include "ui/frame/EventToolBar.h"
#include "ui/widgets/ColumnWidths.h"
#include "ui_SearchResultsForm.h"

#include <QHeaderView>

namespace
{
constexpr int FreeColumn = 1;
constexpr int SpeedColumn = 2;
constexpr int FileColumn = 4;
constexpr int SizeColumn = 5;
constexpr int AttributesColumn = 6;

// Texts that are not numbers read as 0.
int Number(const QTreeWidgetItem& i_row, int i_column)
{
    return i_row.text(i_column).toInt();
}

double Speed(const QTreeWidgetItem& i_row)
{
    return i_row.text(SpeedColumn).toDouble();
}
}  // namespace

SearchResultListItem::SearchResultListItem(QTreeWidget* ip_parent) : QTreeWidgetItem(ip_parent) {}

SearchResultListItem::SearchResultListItem(QTreeWidgetItem* ip_parent) : QTreeWidgetItem(ip_parent) {}

bool SearchResultListItem::operator<(const QTreeWidgetItem& i_other) const
{
    const int l_column = treeWidget() ? treeWidget()->sortColumn() : FreeColumn;
    if (l_column == FreeColumn) {
        const QString l_free = text(FreeColumn);
        const QString l_otherFree = i_other.text(FreeColumn);
        if (l_free != l_otherFree) {
            if (l_free == QLatin1String("Y"))
                return false;
            if (l_otherFree == QLatin1String("Y"))
                return true;
            // A longer queue is "less": it goes further down.
            return Number(*this, FreeColumn) > Number(i_other, FreeColumn);
        }
    }
    if (l_column == FreeColumn || l_column == SpeedColumn) {
        const double l_speed = Speed(*this);
        const double l_otherSpeed = Speed(i_other);
        if (l_speed != l_otherSpeed)
            return l_speed < l_otherSpeed;
    }
    // File names by code unit, the smaller one "greater", so that the
    // descending order lists them ascending.
    return i_other.text(FileColumn) < text(FileColumn);
}

SearchResultsForm::SearchResultsForm(QWidget* ip_parent) : QWidget(ip_parent), ui(new Ui::SearchResultsForm)
{
    ui->setupUi(this);
    QTreeWidget* lp_tree = ui->searchResultsTreeWidget;
    lp_tree->setSortingEnabled(false);
    // Every row is one line: a new row does not make the tree measure the
    // others again.
    lp_tree->setUniformRowHeights(true);
    lp_tree->setColumnCount(7);
    lp_tree->setHeaderLabels({tr("User"), tr("Free"), tr("K/s"), tr("Folder"), tr("File"), tr("Size"), tr("Attributes")});
    int l_column = 0;
    for (int l_width : {100, 40, 40, 150, 170, 70})
        lp_tree->setColumnWidth(l_column++, l_width);
    WidenColumnToShow(lp_tree, SpeedColumn, TypicalText::Speed());
    WidenColumnToShow(lp_tree, SizeColumn, TypicalText::Size());
    WidenColumnToShow(lp_tree, AttributesColumn, TypicalText::Attributes());
    lp_tree->header()->setStretchLastSection(false);
    lp_tree->header()->setSectionsMovable(false);
    lp_tree->header()->setSectionsClickable(false);
    lp_tree->setContextMenuPolicy(Qt::CustomContextMenu);
}

SearchResultsForm::~SearchResultsForm()
{
    delete ui;
}

QTreeWidget* SearchResultsForm::searchResults() const
{
    return ui->searchResultsTreeWidget;
}

QLineEdit* SearchResultsForm::filterEdit() const
{
    return ui->filterEdit;
}

void SearchResultsForm::SetSortingParamters(int i_column, Qt::SortOrder i_order)
{
    m_sortColumn = i_column;
    m_sortOrder = i_order;
}

void SearchResultsForm::Sort()
{
    ui->searchResultsTreeWidget->sortItems(m_sortColumn, m_sortOrder);
}

void SearchResultsForm::showEvent(QShowEvent* ip_event)
{
    QWidget::showEvent(ip_event);
    if (eventToolBar)
        eventToolBar->RemoveEvent(this);
}
