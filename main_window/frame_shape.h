#pragma once

#include <QWidget>

// A drawn rectangle with a blue border, transparent inside and to the mouse: decoration only.
class FrameShape : public QWidget {
    Q_OBJECT
public:
    explicit FrameShape(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};
