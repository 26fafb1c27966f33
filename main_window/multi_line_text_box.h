#pragma once

#include <QPlainTextEdit>

// A multi-line text box with both scroll bars, so that lines break only where the text breaks.
// Its text is held exactly as written (CR LF pairs included; the editor itself would turn a CR
// LF into two line breaks), and shown with each CR LF as one line break; the operator's typing
// changes only the part typed over, and a line break typed is a CR LF. Like TextBox,
// changed() follows every change inside the assignment, and writing the text the box already
// holds is no change.
class MultiLineTextBox : public QPlainTextEdit {
    Q_OBJECT
public:
    MultiLineTextBox(const QString& text, QWidget* parent);

    QString text() const { return text_; }
    void setText(const QString& text);

    // Puts the caret after `characters` characters of text() (a character outside the basic
    // plane counts one), selects nothing and scrolls the caret into view.
    void setCaretPosition(int characters);

signals:
    void changed();

private:
    void takeOperatorEdit();

    QString text_;
    QString editorText_; // the editor's plain text as the program last left it
    bool showing_ = false;
};
