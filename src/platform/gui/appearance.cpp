// Colours and fonts taken from the desktop's palette and font.
#include "appearance.h"

#include <QtMath>

#include <algorithm>

namespace vennacott::appearance {
namespace {

// Relative luminance of an sRGB colour, 0 for black to 1 for white.
double luminance(const QColor &color)
{
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : qPow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

} // namespace

double contrastRatio(const QColor &a, const QColor &b)
{
    const double first = luminance(a);
    const double second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

QColor warningRed(const QColor &background)
{
    // Below this luminance white text contrasts more than black: the background counts as dark.
    constexpr double kDarkBelow = 0.18;
    constexpr int kHue = 350;
    constexpr int kSaturation = 230;
    const bool dark = luminance(background) < kDarkBelow;
    // From a mid red towards white (dark background) or black (light one) until it stands out; the
    // extreme itself always does, whatever the background.
    const int step = dark ? 6 : -6;
    for (int lightness = dark ? 150 : 100;; lightness += step) {
        const QColor red = QColor::fromHsl(kHue, kSaturation, std::clamp(lightness, 0, 255));
        if (contrastRatio(red, background) >= kLegibleContrast || lightness <= 0 || lightness >= 255)
            return red;
    }
}

QFont emphasised(QFont font, qreal scale)
{
    font.setBold(true);
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * scale);
    else if (font.pixelSize() > 0)
        font.setPixelSize(qRound(font.pixelSize() * scale));
    return font;
}

} // namespace vennacott::appearance
