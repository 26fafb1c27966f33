#pragma once

#include "stream_checker.h"

#include <QHash>
#include <QObject>
#include <QRandomGenerator>

class Form1;
class PortWatch;
class QTimer;

// Works the window as a busy operator would, from the window's own thread: the timed sweep at
// 1 ms throughout, the fast sweep switched on and off every few seconds (queued clicks, as its
// loop runs inside the window's event handling), a preset button every 100 ms, and now and then
// an edit of a box. Edits of the sweep boxes are announced to the checker and marked in the
// stream; an edit of the interval box is put back to 1 ms shortly after.
class LoadDriver : public QObject {
    Q_OBJECT
public:
    // boxes: the sweep boxes as the window starts.
    LoadDriver(Form1& form, StreamChecker& checker, PortWatch& watch, const SweepBoxes& boxes,
               std::uint32_t seed, QObject* parent = nullptr);

    void start();
    // Everything off: both sweeps, the clicks and edits; the interval box back at 1 ms.
    void stop();

    // Preset texts as sent, and how often each was clicked.
    const QHash<QByteArray, qint64>& presetClicks() const { return presetClicks_; }
    qint64 presetClickCount() const { return clickCount_; }
    int markersSent() const { return markers_; }
    int fastToggles() const { return fastToggles_; }
    int edits() const { return edits_; }
    int sweepEdits() const { return markers_; }
    int intervalEdits() const { return intervalEdits_; }
    int settingsEdits() const { return settingsEdits_; }

private:
    void clickPreset();
    void toggleFastSweep();
    void editSomething();
    void editPreset();
    void editSweepBoxes();
    void editInterval();
    void editSettings();
    void editOtherBox();
    void setIntervalOneMs();
    template <typename List> const auto& pick(const List& list)
    {
        return list[random_.bounded(qsizetype(list.size()))];
    }
    int randomMs(int low, int high) { return low + int(random_.bounded(high - low + 1)); }

    Form1& form_;
    StreamChecker& checker_;
    PortWatch& watch_;
    QRandomGenerator random_;
    QTimer* presetTimer_;
    QTimer* fastTimer_;
    QTimer* editTimer_;
    QTimer* intervalTimer_;
    bool running_ = false;
    bool fastOn_ = false;
    SweepBoxes boxes_;
    QHash<QByteArray, qint64> presetClicks_;
    qint64 clickCount_ = 0;
    int markers_ = 0;
    int fastToggles_ = 0;
    int edits_ = 0;
    int intervalEdits_ = 0;
    int settingsEdits_ = 0;
};
