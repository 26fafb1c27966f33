#pragma once

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <vector>

class SimulatedPort;

// One row of lamps per simulated controller: its port, its channels as lamps (round for lights,
// square for relays) shown as their states say at this moment, the last command and the counts
// of accepted and rejected commands. Drawing never follows the commands one by one: a frame
// timer looks whether anything changed or moves, and asks for at most one repaint per frame,
// so a flood of commands costs the parsing only.
class LampPanel : public QWidget {
public:
    explicit LampPanel(const std::vector<SimulatedPort*>& ports, QWidget* parent = nullptr);

    static constexpr int kFrameMs = 33; // about 30 frames a second

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void frame();
    bool anythingMoves() const;

    std::vector<SimulatedPort*> ports_;
    std::vector<std::uint64_t> drawnRevisions_;
    std::vector<bool> drawnPresence_;
    QTimer frameTimer_;
    int channels_ = 0;
};
