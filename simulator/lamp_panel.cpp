#include "simulator/lamp_panel.h"

#include "simulator/controller_timing.h"
#include "simulator/simulated_port.h"

#include <QFileInfo>
#include <QPainter>

#include <algorithm>

namespace {

constexpr int kMargin = 8;
constexpr int kRowHeight = 22;
constexpr int kHeader = 18;
constexpr int kLabelWidth = 96;
constexpr int kLampPitch = 12;
constexpr int kLamp = 9;
constexpr int kInfoWidth = 190;
constexpr int kMaxLampsPerRow = 64; // wider controllers are shown up to here

QColor lampColour(int level)
{
    // From an unlit grey to full amber.
    const QColor off(70, 70, 70);
    const QColor on(255, 190, 0);
    auto mix = [&](int a, int b) { return a + (b - a) * level / 100; };
    return QColor(mix(off.red(), on.red()), mix(off.green(), on.green()),
                  mix(off.blue(), on.blue()));
}

} // namespace

LampPanel::LampPanel(const std::vector<SimulatedPort*>& ports, QWidget* parent)
    : QWidget(parent), ports_(ports), drawnRevisions_(ports.size(), ~std::uint64_t(0)),
      drawnPresence_(ports.size(), false)
{
    for (const SimulatedPort* port : ports_)
        channels_ = std::max(channels_, port->controller().model().channelCount());
    setWindowTitle(QStringLiteral("lightbench-sim: %1 controllers").arg(ports_.size()));
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(32, 32, 32));
    colours.setColor(QPalette::WindowText, QColor(220, 220, 220));
    setPalette(colours);
    connect(&frameTimer_, &QTimer::timeout, this, &LampPanel::frame);
    frameTimer_.start(kFrameMs);
}

QSize LampPanel::sizeHint() const
{
    const int lamps = std::min(channels_, kMaxLampsPerRow);
    return {2 * kMargin + kLabelWidth + lamps * kLampPitch + kInfoWidth,
            2 * kMargin + kHeader + int(ports_.size()) * kRowHeight};
}

void LampPanel::lampLevels(std::int64_t nowMs, std::vector<int>& levels) const
{
    levels.clear();
    for (const SimulatedPort* port : ports_) {
        const ControllerModel& model = port->controller().model();
        const int shown = std::min(model.channelCount(), kMaxLampsPerRow);
        for (int i = 0; i < shown; ++i)
            levels.push_back(channelLevel(model.channel(i), model.timing(), nowMs));
    }
}

void LampPanel::frame()
{
    bool changed = false;
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        changed = changed || ports_[i]->controller().revision() != drawnRevisions_[i] ||
                  ports_[i]->isPresent() != drawnPresence_[i];
    }
    if (!changed) {
        lampLevels(simulatorNowMs(), levels_);
        changed = levels_ != drawnLevels_;
    }
    if (changed)
        update(); // Qt folds any number of these into one paint
}

void LampPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const std::int64_t now = simulatorNowMs();
    lampLevels(now, drawnLevels_);
    const int lampsLeft = kMargin + kLabelWidth;
    const int lamps = std::min(channels_, kMaxLampsPerRow);
    const int infoLeft = lampsLeft + lamps * kLampPitch + 8;

    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    painter.setFont(small);
    painter.setPen(palette().color(QPalette::WindowText));
    for (int channel = 0; channel < lamps; channel += 8)
        painter.drawText(lampsLeft + channel * kLampPitch, kMargin + kHeader - 5,
                         QString::number(channel));
    painter.drawText(infoLeft, kMargin + kHeader - 5,
                     QStringLiteral("last command · ok / rejected"));

    std::size_t level = 0;
    for (std::size_t row = 0; row < ports_.size(); ++row) {
        const SimulatedPort& port = *ports_[row];
        const SimulatedController& controller = port.controller();
        const ControllerModel& model = controller.model();
        const int top = kMargin + kHeader + int(row) * kRowHeight;
        const int middle = top + kRowHeight / 2;
        drawnRevisions_[row] = controller.revision();
        drawnPresence_[row] = port.isPresent();

        painter.setPen(port.isPresent() ? QColor(120, 220, 120) : QColor(150, 150, 150));
        QString caption = QStringLiteral("%1 %2")
                              .arg(port.number())
                              .arg(QFileInfo(port.bindingPath()).fileName());
        if (model.boardAddress())
            caption += QStringLiteral(" @%1")
                           .arg(*model.boardAddress(), 4, 16, QLatin1Char('0'))
                           .toUpper();
        painter.drawText(QRect(kMargin, top, kLabelWidth - 4, kRowHeight),
                         Qt::AlignVCenter | Qt::AlignLeft, caption);

        const int shown = std::min(model.channelCount(), kMaxLampsPerRow);
        for (int i = 0; i < shown; ++i) {
            const ChannelState& channel = model.channel(i);
            const QRect lamp(lampsLeft + i * kLampPitch, middle - kLamp / 2, kLamp, kLamp);
            painter.setBrush(lampColour(drawnLevels_[level++]));
            // j and k: dimmed by an amount the language leaves open, marked with a dashed rim.
            painter.setPen(channel.letter == 'j' || channel.letter == 'k'
                               ? QPen(QColor(255, 255, 255), 1, Qt::DashLine)
                               : QPen(QColor(20, 20, 20)));
            if (model.isRelay(i))
                painter.drawRect(lamp);
            else
                painter.drawEllipse(lamp);
        }

        painter.setPen(palette().color(QPalette::WindowText));
        const QString last = QString::fromLatin1(controller.lastCommand()).left(22);
        QString info = QStringLiteral("%1 · %2 / %3")
                           .arg(last.isEmpty() ? QStringLiteral("-") : last)
                           .arg(controller.accepted())
                           .arg(controller.rejected());
        if (controller.dropped() > 0)
            info += QStringLiteral(" (dropped %1)").arg(controller.dropped());
        if (!port.isPresent())
            info += QStringLiteral(" gone");
        painter.drawText(QRect(infoLeft, top, kInfoWidth, kRowHeight),
                         Qt::AlignVCenter | Qt::AlignLeft, info);
    }
}
