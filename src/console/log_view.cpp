#include "console/log_view.h"

namespace qm::console {

LogView::LogView(int maxLines, QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setMaximumBlockCount(maxLines);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(kFlushInterval);
    connect(&flushTimer_, &QTimer::timeout, this, &LogView::Flush);
}

void LogView::AppendLine(const QString& line) {
    pending_.append(line);
    if (!flushTimer_.isActive()) flushTimer_.start();
}

void LogView::Flush() {
    // Lines the view would drop at once are never laid out.
    const qsizetype surplus = pending_.size() - maximumBlockCount();
    if (surplus > 0) pending_.remove(0, surplus);
    appendPlainText(pending_.join(QLatin1Char('\n')));
    pending_.clear();
}

}  // namespace qm::console
