#include "main_window/multi_line_text_box.h"

#include <QTextCursor>
#include <algorithm>

namespace {
QString shownText(const QString& text)
{
    if (!text.contains(QLatin1Char('\r')))
        return text;
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return shown;
}
} // namespace

MultiLineTextBox::MultiLineTextBox(const QString& text, QWidget* parent)
    : QPlainTextEdit(parent), text_(text)
{
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The program rewrites these boxes often; an undo history would only grow.
    setUndoRedoEnabled(false);
    setPlainText(shownText(text_));
    connect(this, &QPlainTextEdit::textChanged, this, &MultiLineTextBox::takeOperatorEdit);
}

void MultiLineTextBox::setText(const QString& text)
{
    if (text == text_)
        return;
    showing_ = true;
    // The receive log grows by appends, many a second: add the new end to what is shown rather
    // than laying the whole text out again. A CR at the old end could pair with an LF at the new
    // start, so that case is shown afresh.
    const bool appended =
        !text_.isEmpty() && text.startsWith(text_) && !text_.endsWith(QLatin1Char('\r'));
    if (appended) {
        QTextCursor end(document());
        end.movePosition(QTextCursor::End);
        end.insertText(shownText(text.sliced(text_.size())));
    } else {
        setPlainText(shownText(text));
    }
    text_ = text;
    showing_ = false;
    emit changed();
}

void MultiLineTextBox::takeOperatorEdit()
{
    if (showing_)
        return;
    text_ = toPlainText();
    emit changed();
}

void MultiLineTextBox::setCaretPosition(int characters)
{
    // The editor counts code units, and shows each CR LF as one line break.
    int editorPosition = 0;
    qsizetype i = 0;
    for (int seen = 0; seen < characters && i < text_.size(); ++seen) {
        if (text_[i].isHighSurrogate() && i + 1 < text_.size() && text_[i + 1].isLowSurrogate()) {
            editorPosition += 2;
            i += 2;
            continue;
        }
        const bool crBeforeLf = text_[i] == QLatin1Char('\r') && i + 1 < text_.size() &&
                                text_[i + 1] == QLatin1Char('\n');
        if (!crBeforeLf)
            ++editorPosition;
        ++i;
    }
    QTextCursor caret = textCursor();
    caret.setPosition(std::clamp(editorPosition, 0, document()->characterCount() - 1));
    setTextCursor(caret);
    ensureCursorVisible();
}
