// Colours and fonts taken from the desktop's palette and font, so that screens follow light, dark and
// large-text themes instead of fixing their own.
#pragma once

#include <QColor>
#include <QFont>

namespace vennacott::appearance {

// Text at this contrast against its background is legible for most readers (the usual 4.5:1 rule).
inline constexpr double kLegibleContrast = 4.5;

// The contrast ratio of two colours, from 1 (the same luminance) to 21 (black on white).
double contrastRatio(const QColor &a, const QColor &b);

// A red for warnings, legible on `background`: deep on light themes, soft on dark ones.
QColor warningRed(const QColor &background);

// `font` in bold and `scale` times as large, in the unit (points or pixels) it was given in.
QFont emphasised(QFont font, qreal scale = 1.0);

} // namespace vennacott::appearance
