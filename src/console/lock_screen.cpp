#include "console/lock_screen.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/star_field.h"

namespace qm::console {

namespace {

// A password field takes the character it shows for each typed one from its
// style; this style shows "!".
class BangEchoStyle final : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return '!';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

}  // namespace

LockScreen::LockScreen(QWidget* parent)
    : QWidget(parent), password_(new QLineEdit(this)) {
    password_->setObjectName("password");
    auto* style = new BangEchoStyle;
    style->setParent(password_);
    password_->setStyle(style);
    password_->setEchoMode(QLineEdit::Password);
    auto* unlock = new QPushButton(tr("Unlock"), this);
    unlock->setObjectName("unlock");
    // Focus given to the lock screen goes to the field, ready for typing.
    setFocusProxy(password_);

    auto* top = new QHBoxLayout;
    // The stars reach the window's edges; the field and the button keep off them.
    top->setContentsMargins(6, 6, 6, 6);
    top->addWidget(password_, 1);
    top->addWidget(unlock);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(new StarField(this), 1);

    const auto request = [this] { emit unlockRequested(password_->text()); };
    connect(unlock, &QPushButton::clicked, this, request);
    connect(password_, &QLineEdit::returnPressed, this, request);
}

void LockScreen::Clear() { password_->clear(); }

}  // namespace qm::console
