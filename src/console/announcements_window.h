#pragma once
// The announcements editor: the text every new connection receives, edited
// in place (a keystroke counts for the next connection), saved to and loaded
// from announce.txt on request.
#include <QWidget>

#include "host/core_host.h"

class QPlainTextEdit;
class QPushButton;

namespace qm::console {

class AnnouncementsWindow final : public QWidget {
    Q_OBJECT
public:
    AnnouncementsWindow(CoreHost& core, QWidget* mainWindow);

    QPlainTextEdit* Text() const { return text_; }
    QPushButton* SaveButton() const { return save_; }
    QPushButton* LoadButton() const { return load_; }
    QPushButton* ExitButton() const { return exit_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Show(const std::string& announcement);

    CoreHost& core_;
    QWidget* mainWindow_;
    QPlainTextEdit* text_;
    QPushButton* save_;
    QPushButton* load_;
    QPushButton* exit_;
    bool filling_ = false;
};

}  // namespace qm::console
