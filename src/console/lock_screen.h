#pragma once
// What the locked console shows instead of its log: a password field (each
// typed character shown as "!") and an Unlock button at the top, and the star
// field below them.
#include <QWidget>

class QLineEdit;

namespace qm::console {

class LockScreen final : public QWidget {
    Q_OBJECT
public:
    explicit LockScreen(QWidget* parent = nullptr);

    // Empties the password field.
    void Clear();

signals:
    // The Unlock button (or Enter in the field), with the field's text.
    void unlockRequested(const QString& password);

private:
    QLineEdit* password_;
};

}  // namespace qm::console
