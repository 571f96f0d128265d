#include "skinui/skin_scroll_bar.h"

#include "skinui/skin_resources.h"

#include <QPainter>
#include <QPixmap>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyleOptionSlider>

#include <utility>

namespace {

// The image's corners keep their size; the edges and the middle stretch to fill the target.
void DrawStretched(QPainter* painter, const QRect& target, const QPixmap& image, const QMargins& corner) {
    if (image.isNull() || target.isEmpty())
        return;
    const int sx[4] = {0, corner.left(), image.width() - corner.right(), image.width()};
    const int sy[4] = {0, corner.top(), image.height() - corner.bottom(), image.height()};
    const int tx[4] = {target.left(), target.left() + corner.left(), target.right() + 1 - corner.right(),
                       target.right() + 1};
    const int ty[4] = {target.top(), target.top() + corner.top(), target.bottom() + 1 - corner.bottom(),
                       target.bottom() + 1};
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            const QRect from(sx[column], sy[row], sx[column + 1] - sx[column], sy[row + 1] - sy[row]);
            const QRect to(tx[column], ty[row], tx[column + 1] - tx[column], ty[row + 1] - ty[row]);
            if (from.width() > 0 && from.height() > 0 && to.width() > 0 && to.height() > 0)
                painter->drawPixmap(to, image, from);
        }
    }
}

}  // namespace

CScrollBarStyle::CScrollBarStyle(ScrollBarSkin skin)
    : QProxyStyle(QStyleFactory::create("Fusion")), skin_(std::move(skin)) {}

void CScrollBarStyle::Apply(QWidget* root) {
    for (QScrollBar* bar : root->findChildren<QScrollBar*>()) {
        if (bar->orientation() != Qt::Vertical)
            continue;
        bar->setStyle(this);
        bar->setAttribute(Qt::WA_Hover);  // the hot look follows the pointer
        bar->updateGeometry();
    }
}

int CScrollBarStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                 const QWidget* widget) const {
    if (metric == PM_ScrollBarExtent)
        return skin_.width;
    return QProxyStyle::pixelMetric(metric, option, widget);
}

void CScrollBarStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                         QPainter* painter, const QWidget* widget) const {
    const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_ScrollBar || !bar || bar->orientation != Qt::Vertical) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    SkinResources& resources = SkinResources::Instance();
    const auto look = [bar](SubControl part) {
        if (!(bar->activeSubControls & part))
            return ScrollBarSkin::Normal;
        if (bar->state & State_Sunken)
            return ScrollBarSkin::Pushed;
        return bar->state & State_MouseOver ? ScrollBarSkin::Hot : ScrollBarSkin::Normal;
    };
    const auto image = [&](const QString(&images)[3], ScrollBarSkin::Look which) {
        const QString& name = images[which].isEmpty() ? images[ScrollBarSkin::Normal] : images[which];
        return name.isEmpty() ? QPixmap() : resources.Image(name);
    };
    if (!skin_.background.isEmpty())
        DrawStretched(painter, bar->rect, resources.Image(skin_.background), {});
    DrawStretched(painter, subControlRect(control, bar, SC_ScrollBarSubLine, widget),
                  image(skin_.up, look(SC_ScrollBarSubLine)), {});
    DrawStretched(painter, subControlRect(control, bar, SC_ScrollBarAddLine, widget),
                  image(skin_.down, look(SC_ScrollBarAddLine)), {});
    if (bar->maximum > bar->minimum)
        DrawStretched(painter, subControlRect(control, bar, SC_ScrollBarSlider, widget),
                      image(skin_.thumb, look(SC_ScrollBarSlider)), skin_.thumbCorner);
}
