#pragma once

#include <QLineEdit>

class QTimer;

// A single-line text box of the roster. changed() follows every change of its text, by the
// operator or by setText(), inside the assignment; writing the text it already holds is no change.
//
// A box may lay out only the end of a long text (setShownLimit): a receive box given tens of
// kilobytes five times a second would otherwise spend most of the window's time and megabytes
// laying out characters that nobody can see. text() is always the whole text; the part not laid
// out stands before the first character shown, and as soon as the operator reaches into the box
// (focus, mouse, keys) it is laid out whole again, so that every edit works on the whole text.
//
// A box that the program rewrites thousands of times a second (the sweeps' boxes) may also lay
// its text out at most once a display frame (setFrameLimited): text() and changed() follow every
// assignment at once; only the drawing waits for the frame.
class TextBox : public QLineEdit {
    Q_OBJECT
public:
    TextBox(const QString& text, QWidget* parent);

    QString text() const { return waiting_ ? waitingText_ : hidden_ + QLineEdit::text(); }
    void setText(const QString& text);

    // 0 (the start): every character is laid out.
    void setShownLimit(int characters) { shownLimit_ = characters; }
    void setFrameLimited(bool limited);

signals:
    void changed();

protected:
    bool event(QEvent* event) override;

private:
    bool holds(const QString& text) const;
    void show(const QString& text);
    void showWaiting();
    void showWhole();

    QString hidden_; // the start of the text, not laid out
    int shownLimit_ = 0;
    bool assigning_ = false;
    QTimer* frame_ = nullptr; // set for a frame-limited box
    QString waitingText_;     // assigned, not yet laid out
    bool waiting_ = false;
};
