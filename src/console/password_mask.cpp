#include "console/password_mask.h"

#include <QLineEdit>
#include <QProxyStyle>

namespace qm::console {

namespace {

class MaskStyle final : public QProxyStyle {
public:
    explicit MaskStyle(QChar mask) : mask_(mask) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return mask_.unicode();
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

private:
    QChar mask_;
};

}  // namespace

void MaskWith(QLineEdit& field, QChar mask) {
    field.setEchoMode(QLineEdit::Password);
    auto* style = new MaskStyle(mask);
    // A widget does not own its style: the field does, through the parent.
    style->setParent(&field);
    field.setStyle(style);
}

}  // namespace qm::console
