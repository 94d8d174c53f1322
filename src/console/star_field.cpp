#include "console/star_field.h"

#include <QPainter>
#include <QRandomGenerator>

namespace qm::console {

namespace {

constexpr int kStars = 200;
constexpr auto kFrameInterval = std::chrono::milliseconds(40);
// How far a star comes nearer in one frame, in units of the field's depth.
constexpr double kSpeed = 0.01;

}  // namespace

StarField::StarField(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    stars_.reserve(kStars);
    for (int i = 0; i < kStars; ++i) stars_.push_back(NewStar(true));
    frameTimer_.setInterval(kFrameInterval);
    connect(&frameTimer_, &QTimer::timeout, this, &StarField::Step);
}

StarField::Star StarField::NewStar(bool anywhereInDepth) {
    auto* random = QRandomGenerator::global();
    const double depth = anywhereInDepth ? 0.05 + 0.95 * random->generateDouble() : 1.0;
    return {random->generateDouble() * 2 - 1, random->generateDouble() * 2 - 1, depth};
}

void StarField::Step() {
    for (auto& star : stars_) {
        star.depth -= kSpeed;
        if (star.depth <= 0.05) star = NewStar(false);
    }
    update();
}

void StarField::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const double halfWidth = width() / 2.0;
    const double halfHeight = height() / 2.0;
    for (const auto& star : stars_) {
        // Perspective: nearer stars sit further out, and are brighter and bigger.
        const double x = halfWidth + star.x / star.depth * halfWidth * 0.5;
        const double y = halfHeight + star.y / star.depth * halfHeight * 0.5;
        const int shade = static_cast<int>(255 * (1.0 - star.depth * 0.8));
        const double size = 2.5 * (1.0 - star.depth) + 0.5;
        painter.fillRect(QRectF(x, y, size, size), QColor(shade, shade, shade));
    }
}

void StarField::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    frameTimer_.start();
}

void StarField::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    frameTimer_.stop();
}

}  // namespace qm::console
