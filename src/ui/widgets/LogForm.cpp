#include "ui/widgets/LogForm.h"

#include "core/log/LogHistory.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>

LogForm::LogForm(QWidget* ip_parent) : QWidget(ip_parent), mp_text(new QPlainTextEdit(this))
{
    mp_text->setReadOnly(true);
    mp_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    mp_text->setMaximumBlockCount(LogHistory::MaxLinesPerArea);
    mp_text->setObjectName(QStringLiteral("logText"));
    auto* lp_layout = new QVBoxLayout(this);
    lp_layout->setContentsMargins(0, 0, 0, 0);
    lp_layout->addWidget(mp_text);

    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, &LogForm::Flush);
}

void LogForm::AppendLine(const QString& i_line)
{
    m_pending.append(i_line);
    if (m_pending.size() > LogHistory::MaxLinesPerArea)
        m_pending.removeFirst();
    if (isVisible())
        ScheduleFlush();
}

void LogForm::showEvent(QShowEvent* ip_event)
{
    QWidget::showEvent(ip_event);
    if (!m_pending.isEmpty())
        ScheduleFlush();
}

void LogForm::ScheduleFlush()
{
    if (m_flushTimer.isActive())
        return;
    const qint64 l_since = m_sinceFlush.isValid() ? m_sinceFlush.elapsed() : FlushIntervalMs;
    m_flushTimer.start(static_cast<int>(qMax<qint64>(0, FlushIntervalMs - l_since)));
}

void LogForm::Flush()
{
    if (m_pending.isEmpty())
        return;
    // One paragraph per line: the text turns each line break into a block.
    mp_text->appendPlainText(m_pending.join(QLatin1Char('\n')));
    m_pending.clear();
    m_sinceFlush.start();
}

QStringList LogForm::Lines() const
{
    QStringList l_lines;
    if (!mp_text->document()->isEmpty()) {
        for (QTextBlock l_block = mp_text->document()->begin(); l_block.isValid(); l_block = l_block.next())
            l_lines.append(l_block.text());
    }
    l_lines.append(m_pending);
    if (l_lines.size() > LogHistory::MaxLinesPerArea)
        l_lines.erase(l_lines.begin(), l_lines.end() - LogHistory::MaxLinesPerArea);
    return l_lines;
}

int LogForm::LineCount() const
{
    const int l_shown = mp_text->document()->isEmpty() ? 0 : mp_text->document()->blockCount();
    return qMin(l_shown + static_cast<int>(m_pending.size()), LogHistory::MaxLinesPerArea);
}
