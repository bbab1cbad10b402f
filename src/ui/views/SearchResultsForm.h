#pragma once

#include <QTreeWidgetItem>
#include <QWidget>

class QLineEdit;
class QTreeWidget;

namespace Ui {
class SearchResultsForm;
}

// One row of a results tree: a user, a folder or a file. Rows are ordered
// only when the tab sorts them (the tree's own sorting stays off): by the
// "Free" column ("Y" above every queue length, shorter queues above longer
// ones, then speed) or by the "K/s" column, and ties by file name.
class SearchResultListItem : public QTreeWidgetItem
{
public:
    explicit SearchResultListItem(QTreeWidget* ip_parent);
    explicit SearchResultListItem(QTreeWidgetItem* ip_parent);

    bool operator<(const QTreeWidgetItem& i_other) const override;
};

// One results tab of the Search page: the tree of one search's answers and
// its filter line. The page fills and filters it; the tab keeps only the
// order it sorts by, and withdraws its event-bar notice when shown.
class SearchResultsForm : public QWidget
{
    Q_OBJECT

public:
    explicit SearchResultsForm(QWidget* ip_parent = nullptr);
    ~SearchResultsForm() override;

    QTreeWidget* searchResults() const;
    QLineEdit* filterEdit() const;
    void SetSortingParamters(int i_column, Qt::SortOrder i_order);
    int SortColumn() const { return m_sortColumn; }

public slots:
    // Orders every level of the tree once by the stored column and order.
    void Sort();

protected:
    void showEvent(QShowEvent* ip_event) override;

private:
    Ui::SearchResultsForm* ui;
    int m_sortColumn = 1;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;
};
