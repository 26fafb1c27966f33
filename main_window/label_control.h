#pragma once

#include <QLabel>
#include <cstdint>

// A label of the roster: a caption, a text colour and, when auto-sized, a size that follows its
// caption on one line.
class LabelControl : public QLabel {
    Q_OBJECT
public:
    LabelControl(const QString& caption, bool autoSize, QWidget* parent);

    void setCaption(const QString& caption);
    void setForeColor(std::uint32_t rgb);
    std::uint32_t foreColor() const;

private:
    bool autoSize_;
};
