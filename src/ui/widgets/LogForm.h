#pragma once

#include <QStringList>
#include <QWidget>

class QPlainTextEdit;

// A read-only view of log lines, newest at the bottom. Keeps at most
// LogHistory::MaxLinesPerArea lines; the oldest go first.
class LogForm : public QWidget
{
    Q_OBJECT

public:
    explicit LogForm(QWidget* ip_parent = nullptr);

    void AppendLine(const QString& i_line);
    QStringList Lines() const;
    int LineCount() const;

private:
    QPlainTextEdit* mp_text;
};
