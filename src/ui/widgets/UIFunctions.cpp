#include "ui/widgets/UIFunctions.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QString>
#include <QTabWidget>
#include <QWidget>

namespace {

// Selects, in every QTabWidget above the widget, the page that holds it.
void SelectEnclosingPages(QWidget* ip_widget)
{
    for (QWidget* lp_child = ip_widget; lp_child; lp_child = lp_child->parentWidget()) {
        // A tab widget keeps its pages in an inner stack, so a page's tab
        // widget is its grandparent.
        QWidget* lp_stack = lp_child->parentWidget();
        QTabWidget* lp_tabs = lp_stack ? qobject_cast<QTabWidget*>(lp_stack->parentWidget()) : nullptr;
        if (!lp_tabs)
            continue;
        const int l_index = lp_tabs->indexOf(lp_child);
        if (l_index >= 0)
            lp_tabs->setCurrentIndex(l_index);
    }
}

} // namespace

void FocusWidgetAndParents(QWidget* ip_widget)
{
    if (!ip_widget)
        return;
    // The pages first: a widget on a hidden page cannot take the focus.
    SelectEnclosingPages(ip_widget);
    ip_widget->window()->activateWindow();
    ip_widget->setFocus(Qt::OtherFocusReason);
}

void FocusWidget(QWidget* ip_widget)
{
    FocusWidgetAndParents(ip_widget);
}

QString LiteralLabel(const QString& i_text)
{
    QString l_label = i_text;
    return l_label.replace(QLatin1Char('&'), QLatin1String("&&"));
}

void SetUpFolderChooser(QFileDialog& io_chooser, const QString& i_start)
{
    io_chooser.setFileMode(QFileDialog::Directory);
    io_chooser.setOption(QFileDialog::ShowDirsOnly, true);
    // The option alone is lost when the dialog builds its widgets later
    // than it is set: the listing's filter says it again.
    io_chooser.setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    const bool l_usable = !i_start.isEmpty() && QFileInfo(i_start).isDir();
    io_chooser.setDirectory(l_usable ? i_start : QDir::homePath());
}
