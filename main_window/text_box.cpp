#include "main_window/text_box.h"

#include <QEvent>
#include <QTimer>
#include <utility>

TextBox::TextBox(const QString& text, QWidget* parent) : QLineEdit(text, parent)
{
    // The boxes have no length limit of their own; QLineEdit's default would cut at 32767.
    setMaxLength(std::numeric_limits<int>::max());
    setCursorPosition(0);
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (!assigning_)
            emit changed();
    });
}

void TextBox::setFrameLimited(bool limited)
{
    if (limited && !frame_) {
        frame_ = new QTimer(this);
        frame_->setSingleShot(true);
        frame_->setInterval(16);
        connect(frame_, &QTimer::timeout, this, &TextBox::showWaiting);
    } else if (!limited && frame_) {
        showWaiting();
        delete frame_;
        frame_ = nullptr;
    }
}

// Compared in its parts: joining them would copy a long text for every assignment.
bool TextBox::holds(const QString& text) const
{
    if (waiting_)
        return text == waitingText_;
    const QString shown = QLineEdit::text();
    const QStringView whole(text);
    return whole.size() == hidden_.size() + shown.size() && whole.startsWith(hidden_) &&
           whole.sliced(hidden_.size()) == shown;
}

void TextBox::setText(const QString& text)
{
    if (holds(text))
        return;
    if (frame_ && !hasFocus()) {
        waitingText_ = text;
        waiting_ = true;
        if (!frame_->isActive())
            frame_->start();
    } else {
        waiting_ = false;
        show(text);
    }
    emit changed();
}

void TextBox::showWaiting()
{
    if (!waiting_)
        return;
    waiting_ = false;
    show(std::exchange(waitingText_, QString()));
}

void TextBox::show(const QString& text)
{
    qsizetype cut = 0;
    if (shownLimit_ > 0 && text.size() > shownLimit_ && !hasFocus()) {
        cut = text.size() - shownLimit_;
        if (text[cut].isLowSurrogate())
            ++cut;
    }
    assigning_ = true;
    hidden_ = text.left(cut);
    QLineEdit::setText(text.sliced(cut));
    assigning_ = false;
}

bool TextBox::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::FocusIn:
    case QEvent::KeyPress:
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::Drop:
        showWaiting();
        showWhole();
        break;
    default:
        break;
    }
    return QLineEdit::event(event);
}

// Lays the hidden start out again, keeping the caret and selection where the operator sees
// them: the start of what was shown is the start of the text.
void TextBox::showWhole()
{
    if (hidden_.isEmpty())
        return;
    const int hiddenSize = int(hidden_.size());
    const auto toWhole = [hiddenSize](int shown) { return shown == 0 ? 0 : shown + hiddenSize; };
    const bool selected = hasSelectedText();
    const int anchor =
        selected ? (cursorPosition() == selectionStart() ? selectionEnd() : selectionStart())
                 : cursorPosition();
    const int caret = cursorPosition();
    const QString whole = text();
    assigning_ = true;
    hidden_.clear();
    QLineEdit::setText(whole);
    assigning_ = false;
    if (selected)
        setSelection(toWhole(anchor), toWhole(caret) - toWhole(anchor));
    else
        setCursorPosition(toWhole(caret));
}
