#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <deque>

class QLabel;
class QPlainTextEdit;

namespace app {

// What the current or last repair said, line by line, each with its time of day, in memory only. It keeps
// the newest kMaxLines lines and counts the ones it let go, so a tool that floods messages can exhaust
// neither memory nor the window. While its view is open, new lines reach it in batches a few times a
// second; while it is closed the view is left alone and filled in when it opens.
class RepairLog : public QObject {
    Q_OBJECT

public:
    static constexpr qsizetype kMaxLines = 10000;

    explicit RepairLog(QObject* parent = nullptr);

    // The text view that shows the lines and the label that says how many were let go; not owned.
    void setView(QPlainTextEdit* view, QLabel* droppedLabel);
    void setViewOpen(bool open);

    void clear();
    // Adds a line of plain text, stamped with the present time of day.
    void add(const QString& text);
    // Puts the lines that wait for the view into it now.
    void flush();

    qsizetype lineCount() const { return static_cast<qsizetype>(m_lines.size()); }
    qsizetype dropped() const { return m_dropped; }
    // The whole log as plain text, a line each, after a line saying how many were let go, if any.
    QString text() const;

private:
    QString timeOfDay();
    QString droppedText() const;
    void showDropped();

    std::deque<QString> m_lines;
    qsizetype m_dropped = 0;
    QStringList m_waiting; // lines the open view has not shown yet
    QTimer m_batch;
    QPointer<QPlainTextEdit> m_view;
    QPointer<QLabel> m_droppedLabel;
    bool m_open = false;
    bool m_following = true; // the view shows the newest line and keeps doing so
    // The time of day of the last line, so that a flood does not ask the calendar for every line.
    qint64 m_stampedSecond = -1;
    QString m_stamp;
};

} // namespace app
