#include "main_window/label_control.h"

LabelControl::LabelControl(const QString& caption, bool autoSize, QWidget* parent)
    : QLabel(caption, parent), autoSize_(autoSize)
{
    setWordWrap(!autoSize);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void LabelControl::setCaption(const QString& caption)
{
    if (caption == text())
        return;
    setText(caption);
    if (autoSize_)
        resize(sizeHint());
}

void LabelControl::setForeColor(std::uint32_t rgb)
{
    if (rgb == foreColor())
        return;
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, QColor::fromRgb(static_cast<QRgb>(rgb)));
    setPalette(colours);
}

std::uint32_t LabelControl::foreColor() const
{
    return palette().color(QPalette::WindowText).rgb() & 0xFFFFFFu;
}
