#include "main_window/text_box.h"

TextBox::TextBox(const QString& text, QWidget* parent) : QLineEdit(text, parent)
{
    // The boxes have no length limit of their own; QLineEdit's default would cut at 32767.
    setMaxLength(std::numeric_limits<int>::max());
    setCursorPosition(0);
    connect(this, &QLineEdit::textChanged, this, &TextBox::changed);
}
