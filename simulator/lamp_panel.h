#pragma once

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <vector>

class SimulatedPort;

// One row of lamps per simulated controller: its port, its channels as lamps (round for lights,
// square for relays) shown as their states say at this moment, the last command and the counts
// of accepted and rejected commands. Drawing never follows the commands one by one: a frame
// timer looks whether anything shown has changed (a count, a command, a lamp's brightness) and
// asks for at most one repaint per frame, so a flood of commands costs the parsing only and a
// flash costs a repaint each time it turns, not every frame.
class LampPanel : public QWidget {
public:
    explicit LampPanel(const std::vector<SimulatedPort*>& ports, QWidget* parent = nullptr);

    static constexpr int kFrameMs = 33; // about 30 frames a second

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void frame();
    // The brightness of every lamp shown at nowMs, row after row.
    void lampLevels(std::int64_t nowMs, std::vector<int>& levels) const;

    std::vector<SimulatedPort*> ports_;
    std::vector<std::uint64_t> drawnRevisions_;
    std::vector<bool> drawnPresence_;
    std::vector<int> drawnLevels_;
    std::vector<int> levels_; // scratch for frame()
    QTimer frameTimer_;
    int channels_ = 0;
};
