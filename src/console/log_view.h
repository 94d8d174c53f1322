#pragma once
// The main window's log view: read-only plain text, one line per log line,
// holding at most a fixed number of lines (the oldest go first). Lines are
// gathered and added together at most every kFlushInterval, so that a burst
// of logins costs the GUI one update per interval instead of one per line.
#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>
#include <chrono>

namespace qm::console {

class LogView final : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kFlushInterval{50};

    explicit LogView(int maxLines, QWidget* parent = nullptr);

    // Queues `line`; it shows at the next flush.
    void AppendLine(const QString& line);

private:
    void Flush();

    QStringList pending_;
    QTimer flushTimer_;
};

}  // namespace qm::console
