#pragma once
// Draws a window's vertical scroll bars from skin images: the up and down buttons and the thumb,
// each in its normal, hot and pushed look, the thumb stretched between its fixed corners, and a
// background image under all of it. Horizontal bars keep the toolkit's look.

#include <QMargins>
#include <QProxyStyle>
#include <QString>

struct ScrollBarSkin {
    enum Look { Normal, Hot, Pushed };
    int width = 8;
    QString up[3];
    QString down[3];
    QString thumb[3];
    QMargins thumbCorner;  // left, top, right, bottom edges of the thumb image that are not stretched
    QString background;
};

class CScrollBarStyle : public QProxyStyle {
public:
    explicit CScrollBarStyle(ScrollBarSkin skin);

    // Gives every vertical scroll bar inside root this look.
    void Apply(QWidget* root);

    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;

private:
    ScrollBarSkin skin_;
};
