#include "main_window/frame_shape.h"

#include <QPainter>

FrameShape::FrameShape(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void FrameShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(QColor(0, 0, 255));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
