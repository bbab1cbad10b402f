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
}

void LogForm::AppendLine(const QString& i_line)
{
    mp_text->appendPlainText(i_line);
}

QStringList LogForm::Lines() const
{
    QStringList l_lines;
    if (mp_text->document()->isEmpty())
        return l_lines;
    for (QTextBlock l_block = mp_text->document()->begin(); l_block.isValid(); l_block = l_block.next())
        l_lines.append(l_block.text());
    return l_lines;
}

int LogForm::LineCount() const
{
    return mp_text->document()->isEmpty() ? 0 : mp_text->document()->blockCount();
}
