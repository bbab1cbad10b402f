#pragma once

#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

class QPlainTextEdit;

// A read-only view of log lines, newest at the bottom. Keeps at most
// LogHistory::MaxLinesPerArea lines; the oldest go first.
//
// Lines reach the text in batches: a burst of lines (a rescan logs one for
// every folder) is laid out once, not once a line. The first line after a
// quiet spell is shown from the next turn of the event loop; after that the
// view takes at most one batch every FlushIntervalMs. A hidden view (a tab
// not shown) lays nothing out: it takes its lines when it is shown.
class LogForm : public QWidget
{
    Q_OBJECT

public:
    static constexpr int FlushIntervalMs = 100;

    explicit LogForm(QWidget* ip_parent = nullptr);

    void AppendLine(const QString& i_line);
    // The lines of the view, those still waiting for their batch included.
    QStringList Lines() const;
    int LineCount() const;

protected:
    void showEvent(QShowEvent* ip_event) override;

private:
    void ScheduleFlush();
    void Flush();

    QPlainTextEdit* mp_text;
    QStringList m_pending;
    QTimer m_flushTimer;
    QElapsedTimer m_sinceFlush;
};
