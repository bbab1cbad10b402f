#include "ui/widgets/DiagnosticsForm.h"

#include "core/log/LogService.h"
#include "ui/widgets/LogForm.h"
#include "ui/widgets/UIFunctions.h"

#include <QTabWidget>
#include <QVBoxLayout>

DiagnosticsForm* diagnosticsForm = nullptr;

DiagnosticsForm::DiagnosticsForm(QWidget* ip_parent) : QWidget(ip_parent), mp_tabs(new QTabWidget(this))
{
    diagnosticsForm = this;
    mp_tabs->setObjectName(QStringLiteral("diagnosticsTabs"));
    auto* lp_layout = new QVBoxLayout(this);
    lp_layout->setContentsMargins(0, 0, 0, 0);
    lp_layout->addWidget(mp_tabs);

    // Follow first, then show what is kept: a line logged in between arrives
    // later and is told apart by its sequence number.
    connect(GetLogNotifier(), &LogNotifier::LineLogged, this, &DiagnosticsForm::OnLineLogged,
            Qt::QueuedConnection);
    for (const LogEntry& l_entry : GetLogHistory().AllEntries(&m_shownUpTo))
        Show(l_entry);
}

DiagnosticsForm::~DiagnosticsForm()
{
    if (diagnosticsForm == this)
        diagnosticsForm = nullptr;
}

void DiagnosticsForm::Init()
{
    WatchLoggedItemRemovals();
}

QStringList DiagnosticsForm::Areas() const
{
    return m_areas;
}

LogForm* DiagnosticsForm::AreaForm(const QString& i_area) const
{
    return m_forms.value(i_area, nullptr);
}

void DiagnosticsForm::OnLineLogged(const LogEntry& i_entry)
{
    if (i_entry.m_sequence > m_shownUpTo)
        Show(i_entry);
}

void DiagnosticsForm::Show(const LogEntry& i_entry)
{
    LogForm* lp_form = m_forms.value(i_entry.m_area, nullptr);
    if (!lp_form) {
        lp_form = new LogForm(mp_tabs);
        m_forms.insert(i_entry.m_area, lp_form);
        m_areas.append(i_entry.m_area);
        mp_tabs->addTab(lp_form, LiteralLabel(i_entry.m_area));
    }
    lp_form->AppendLine(i_entry.m_line);
}
