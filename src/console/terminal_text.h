#pragma once
// The announcement and the help replies are read on terminals, and the help
// lines line up their columns with spaces. Their editors therefore show them
// in a fixed-pitch font, as the users will see them, and are sized in
// character cells, so that the shipped texts fit without scrolling sideways.
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyle>

namespace qm::console {

inline void ShowAsTerminal(QPlainTextEdit& editor, int columns, int lines) {
    editor.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const QFontMetrics cell(editor.font());
    const int margins = 2 * (editor.frameWidth() + static_cast<int>(editor.document()->documentMargin()));
    const int scrollBar = editor.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &editor);
    // One cell more: the cursor after a line's last character needs room too.
    editor.setMinimumSize(cell.horizontalAdvance(QLatin1Char('M')) * (columns + 1) + margins + scrollBar,
                          cell.lineSpacing() * lines + margins + scrollBar);
}

}  // namespace qm::console
