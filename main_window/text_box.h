#pragma once

#include <QLineEdit>

// A single-line text box of the roster. changed() follows every change of its text, by the
// operator or by setText(), inside the assignment; writing the text it already holds is no change.
class TextBox : public QLineEdit {
    Q_OBJECT
public:
    TextBox(const QString& text, QWidget* parent);

signals:
    void changed();
};
