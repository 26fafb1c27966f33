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
    editorText_ = toPlainText();
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
    editorText_ = toPlainText();
    showing_ = false;
    emit changed();
}

// The editor's plain text has no CR: an edit is found by comparing it with what the editor
// held before, and only the part the operator changed is taken from it. The rest of the text
// stays as written, CR LF pairs included; a line break the operator types is a CR LF.
void MultiLineTextBox::takeOperatorEdit()
{
    if (showing_)
        return;
    const QString now = toPlainText();
    const qsizetype common = std::min(now.size(), editorText_.size());
    qsizetype prefix = 0;
    while (prefix < common && now[prefix] == editorText_[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < common - prefix &&
           now[now.size() - 1 - suffix] == editorText_[editorText_.size() - 1 - suffix])
        ++suffix;

    // Each CR LF of the text is one character of the editor's; every other one is itself.
    const auto isCrLf = [this](qsizetype at) {
        return at + 1 < text_.size() && text_[at] == QLatin1Char('\r') &&
               text_[at + 1] == QLatin1Char('\n');
    };
    qsizetype head = 0;
    for (qsizetype shown = 0; shown < prefix && head < text_.size(); ++shown)
        head += isCrLf(head) ? 2 : 1;
    qsizetype tail = text_.size();
    for (qsizetype shown = 0; shown < suffix && tail > head; ++shown)
        tail -= tail >= 2 && isCrLf(tail - 2) ? 2 : 1;

    QString typed = now.sliced(prefix, now.size() - prefix - suffix);
    typed.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    text_ = text_.left(head) + typed + text_.sliced(tail);
    editorText_ = now;
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
