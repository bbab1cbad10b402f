#include "ui/widgets/ItemLogDialog.h"

#include "core/log/LogService.h"
#include "ui/widgets/LogForm.h"
#include "ui/widgets/UIFunctions.h"

#include <QTabWidget>
#include <QVBoxLayout>

ItemLogDialog::ItemLogDialog(ItemPtr i_item, QWidget* ip_parent)
    : QDialog(ip_parent),
      m_item(reinterpret_cast<quintptr>(i_item.Get())),
      mp_tabs(new QTabWidget(this)),
      mp_allForm(new LogForm(mp_tabs))
{
    setWindowTitle(QStringLiteral("Item Log"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    resize(640, 400);
    mp_tabs->setObjectName(QStringLiteral("itemLogTabs"));
    mp_tabs->addTab(mp_allForm, QStringLiteral("All"));
    auto* lp_layout = new QVBoxLayout(this);
    lp_layout->addWidget(mp_tabs);

    if (m_item == 0)
        return;
    // So that the lines of a removed item, whose address a new item may get,
    // are never shown for this one.
    WatchLoggedItemRemovals();
    GetLogHistory().WatchItem(m_item);
    // Follow first, then show what is kept: a line logged in between arrives
    // later and is told apart by its sequence number.
    connect(GetLogNotifier(), &LogNotifier::LineLogged, this, &ItemLogDialog::OnLineLogged,
            Qt::QueuedConnection);
    // Direct: the item is gone the moment the store says so, and a line for
    // a new item at the same address may already be queued behind it.
    connect(GetLogNotifier(), &LogNotifier::ItemForgotten, this, &ItemLogDialog::OnItemForgotten,
            Qt::DirectConnection);
    for (const LogEntry& l_entry : GetLogHistory().ItemEntries(m_item, &m_shownUpTo))
        Show(l_entry);
}

LogForm* ItemLogDialog::AreaForm(const QString& i_area) const
{
    return m_forms.value(i_area, nullptr);
}

void ItemLogDialog::OnLineLogged(const LogEntry& i_entry)
{
    if (m_item != 0 && i_entry.m_item == m_item && i_entry.m_sequence > m_shownUpTo &&
        i_entry.m_sequence <= m_acceptUpTo)
        Show(i_entry);
}

void ItemLogDialog::OnItemForgotten(quintptr i_item)
{
    if ((i_item == 0 || i_item == m_item) && m_acceptUpTo == std::numeric_limits<quint64>::max())
        m_acceptUpTo = GetLogHistory().LastSequence();
}

void ItemLogDialog::Show(const LogEntry& i_entry)
{
    mp_allForm->AppendLine(i_entry.m_line);
    LogForm* lp_form = m_forms.value(i_entry.m_area, nullptr);
    if (!lp_form) {
        lp_form = new LogForm(mp_tabs);
        m_forms.insert(i_entry.m_area, lp_form);
        m_areas.append(i_entry.m_area);
        mp_tabs->addTab(lp_form, LiteralLabel(i_entry.m_area));
    }
    lp_form->AppendLine(i_entry.m_line);
}
