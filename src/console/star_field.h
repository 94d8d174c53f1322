#pragma once
// The locked console's decoration: stars flying out of the middle of the
// window. It animates only while it is shown.
#include <QTimer>
#include <QWidget>
#include <vector>

namespace qm::console {

class StarField final : public QWidget {
    Q_OBJECT
public:
    explicit StarField(QWidget* parent = nullptr);

    bool IsAnimating() const { return frameTimer_.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // A star's place ahead of the viewer: x and y in [-1, 1], depth in (0, 1].
    struct Star {
        double x, y, depth;
    };
    static Star NewStar(bool anywhereInDepth);
    void Step();

    std::vector<Star> stars_;
    QTimer frameTimer_;
};

}  // namespace qm::console
