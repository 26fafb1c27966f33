#pragma once

#include <QPushButton>

// A push button of the roster, with the free text tag that the fast sweep keeps its flag in.
class CommandButton : public QPushButton {
    Q_OBJECT
public:
    CommandButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {}

    QString tag() const { return tag_; }
    void setTag(const QString& tag) { tag_ = tag; }

private:
    QString tag_;
};
