#pragma once

#include <QRect>
#include <QWidget>
#include <cmath>

// Positions and sizes of the roster are in twips; 15 twips are one logical pixel, and Qt scales
// logical pixels on a high-DPI screen, so the whole window scales with it.
namespace Twips {
inline constexpr double kPerPixel = 15.0;

inline int toPixels(double twips)
{
    return static_cast<int>(std::lround(twips / kPerPixel));
}
inline double fromPixels(int pixels)
{
    return pixels * kPerPixel;
}

inline void place(QWidget* widget, double left, double top, double width, double height)
{
    widget->setGeometry(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

inline float left(const QWidget* widget)
{
    return static_cast<float>(fromPixels(widget->x()));
}
inline float top(const QWidget* widget)
{
    return static_cast<float>(fromPixels(widget->y()));
}
inline float height(const QWidget* widget)
{
    return static_cast<float>(fromPixels(widget->height()));
}
inline void setLeft(QWidget* widget, float twips)
{
    widget->move(toPixels(twips), widget->y());
}
inline void setTop(QWidget* widget, float twips)
{
    widget->move(widget->x(), toPixels(twips));
}
} // namespace Twips
