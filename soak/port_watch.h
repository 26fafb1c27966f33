#pragma once

#include <QMutex>
#include <QObject>
#include <QStringList>
#include <array>
#include <vector>

class Form1;

// Follows the status labels. Healthy ports must stay green once the load runs. For each loss of
// a faulty port it notes whether the port closed (its loss was noticed, or it was not open at
// all), and from the device's return how long until the label was green again with the port
// really open. How long the label took to leave green is a figure only: a device that is back
// before the next pass looks at it may never show gray, and rightly so. Losses and returns are
// reported from the peer thread; the labels are read in the window's thread, on every colour
// change (an event filter) and from a timer for a return that changed no colour.
class PortWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kPorts = 16;

    PortWatch(Form1& form, int firstFaulty, QObject* parent = nullptr);

    void startLoad();
    // The interval box left "1" (false) or came back to it (true): returns in between are timed
    // apart, since the opening pass then runs at another pace or not at all.
    void intervalChanged(bool oneMs);

    // Any thread.
    void noteLoss(int index, qint64 ns);
    void noteReturn(int index, qint64 ns);

    struct Results {
        int losses = 0;
        int returns = 0;
        int lossesClosed = 0; // the port read as closed after the loss
        int lossesShown = 0;  // the label left green while the device was away
        int returnsGreen = 0; // green again, port open
        int returnsGreenAtOneMs = 0;
        std::vector<double> greenMs;      // return to green, with the interval at 1 ms throughout
        std::vector<double> slowGreenMs;  // the same while the interval box was edited
        std::vector<double> shownLostMs;  // loss to the label leaving green
        int greenWhileAway = 0;           // the label turned green while the device was away
        int healthyNotGreen = 0;          // colour changes of a healthy port away from green
        std::array<int, 4> awayColours{}; // gray, red, blue, other shown during losses
        QStringList notes;
    };
    // Whether every faulty port has its device back and has turned green with it open again.
    // Any thread.
    bool everyReturnSettled() const;
    // After the run: every return should have turned green by now.
    Results results() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Outage {
        qint64 lossNs = 0;
        qint64 returnNs = -1;
        qint64 shownNs = -1;
        qint64 closedNs = -1;
        qint64 greenNs = -1;
        bool slowPass = false;
    };
    void look(int index, bool colourChanged);
    void noteClosed(int index);
    bool intervalWasOneMsBetween(qint64 fromNs, qint64 toNs) const;
    void note(const QString& text);

    Form1& form_;
    int firstFaulty_;
    bool loadRunning_ = false;
    std::vector<std::pair<qint64, bool>> intervalChanges_; // window thread only
    bool intervalOneMs_ = false;
    mutable QMutex lock_;
    std::array<std::vector<Outage>, kPorts> outages_;
    Results counts_;
};
