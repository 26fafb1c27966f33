#include "port_bank/serial_port.h"

#include "port_bank/lines/device_line.h"
#include "port_bank/lines/network_address.h"
#include "port_bank/lines/network_line.h"
#include "port_bank/port_directory.h"
#include "port_bank/port_errors.h"
#include "port_bank/port_traffic.h"
#include "port_bank/wire_text.h"

namespace {

const QString kDefaultSettings = QStringLiteral("115200,n,8,1");

static_assert(SerialLine::kReadBound == PortTraffic::kReceiveBound,
              "a line takes between two reads what the port keeps");

// What a line's opening means to the opening pass.
std::int32_t errorNumberOf(SerialLine::Opening opening)
{
    switch (opening) {
    case SerialLine::Opening::Opened:
        return PortError::None;
    case SerialLine::Opening::NoSuchDevice:
        return PortError::NoSuchPort;
    case SerialLine::Opening::InUse:
        return PortError::AlreadyOpen;
    case SerialLine::Opening::Failed:
        break;
    }
    return PortError::OpenFailed;
}

} // namespace

class SerialPort::Private {
public:
    Private(SerialPort* owner, PortDirectory& portDirectory, LineMaker maker)
        : q(owner), directory(portDirectory), makeLine(std::move(maker))
    {
    }

    std::int32_t bindLine(const QString& path);
    void onUp();
    void onSettingsAnswered(bool accepted);
    void beginLoss();
    void completeLoss();
    void releaseLine();
    void warnOnce(const QString& message);

    SerialPort* q;
    PortDirectory& directory;
    LineMaker makeLine;
    int commPort = 1;
    // The text in force (from the moment it is asked until the line refuses it), the last one
    // the line took, and the last one it refused.
    QString settingsText = kDefaultSettings;
    SerialSettings settings;
    QString acceptedText = kDefaultSettings;
    SerialSettings acceptedSettings;
    QString refusedText;
    QString boundPath; // the directory's path of the open line
    bool up = false;   // the line said up() and has not been let go since
    // Counters, observer and the received bytes kept between polls.
    PortTraffic traffic;
    QString lastWarning;
    bool retired = false;
    // The line has gone; the port reads as closed and lets the line go on the next turn of the
    // event loop, outside the line's code that reported it.
    bool lossPending = false;
    // The port lets its line go: what fails meanwhile is not a loss to report.
    bool closing = false;
    // The line for the device text the directory gave at the last open. Last, so that it goes
    // first: its signals reach the members above.
    QString linePath;
    std::unique_ptr<SerialLine> line;
};

// The line for the device the port number names now; the one the port had when that is the
// same. A new line is opened with the port's settings, so none are lost on the change.
std::int32_t SerialPort::Private::bindLine(const QString& path)
{
    if (line && linePath == path)
        return PortError::None;
    QString why;
    std::unique_ptr<SerialLine> made = makeLine(path, &why);
    if (!made) {
        warnOnce(QStringLiteral("port %1: %2").arg(commPort).arg(why));
        return PortError::OpenFailed;
    }
    line = std::move(made);
    linePath = path;
    SerialLine* bound = line.get();
    QObject::connect(bound, &SerialLine::up, q, [this] { onUp(); });
    QObject::connect(bound, &SerialLine::dataArrived, q,
                     [this](const QByteArray& bytes) { traffic.received(bytes); });
    QObject::connect(bound, &SerialLine::written, q,
                     [this](qint64 bytes) { traffic.written(bytes); });
    QObject::connect(bound, &SerialLine::lost, q, [this] {
        if (!lossPending && !closing)
            beginLoss();
    });
    QObject::connect(bound, &SerialLine::settingsAnswered, q,
                     [this](bool accepted) { onSettingsAnswered(accepted); });
    QObject::connect(bound, &SerialLine::warning, q,
                     [this](const QString& message) { warnOnce(message); });
    return PortError::None;
}

void SerialPort::Private::onUp()
{
    up = true;
    boundPath = linePath;
    lastWarning.clear();
    refusedText.clear(); // a line that opens afresh may take what it refused before
    // A line that carries no settings (raw TCP) runs with what its server gave it.
    traffic.opened(commPort, linePath, line->carriesSettings() ? settingsText : QString());
}

void SerialPort::Private::onSettingsAnswered(bool accepted)
{
    if (accepted) {
        acceptedText = settingsText;
        acceptedSettings = settings;
        refusedText.clear();
        return;
    }
    refusedText = settingsText;
    settingsText = acceptedText;
    settings = acceptedSettings;
}

void SerialPort::Private::beginLoss()
{
    lossPending = true;
    qWarning("%s: device lost", qPrintable(linePath));
    QMetaObject::invokeMethod(
        q, [this] { completeLoss(); }, Qt::QueuedConnection);
}

void SerialPort::Private::completeLoss()
{
    if (!lossPending)
        return;
    // Still set while closing, so that errors raised by the close itself are not taken for a
    // second loss.
    traffic.lost(boundPath);
    releaseLine();
    lossPending = false;
    emit q->deviceLost();
}

void SerialPort::Private::releaseLine()
{
    // The line's queue goes with the close, but not half a command; what the driver held had
    // been counted as sent.
    if (line) {
        if (up && !lossPending) {
            // Commands held for the end of the turn go as if they had gone at once.
            closing = true;
            line->handOverHeld();
            line->finish(traffic.unwrittenOfStarted());
            closing = false;
        }
        traffic.discardWaiting(line->close());
    }
    up = false;
    boundPath.clear();
}

// The opening pass retries every second: say what goes wrong once, not every second.
void SerialPort::Private::warnOnce(const QString& message)
{
    if (message == lastWarning)
        return;
    lastWarning = message;
    qWarning("%s", qPrintable(message));
}

std::unique_ptr<SerialLine> SerialPort::makeLine(const QString& device, QString* why)
{
    if (!NetworkAddress::isNetworkDevice(device))
        return makeDeviceLine(device);
    const std::optional<NetworkAddress> address = NetworkAddress::parse(device, why);
    if (!address)
        return nullptr;
    return std::make_unique<NetworkLine>(*address, device);
}

SerialPort::SerialPort(PortDirectory& directory, QObject* parent)
    : SerialPort(directory, &SerialPort::makeLine, parent)
{
}

SerialPort::SerialPort(PortDirectory& directory, LineMaker makeLine, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(this, directory, std::move(makeLine)))
{
}

SerialPort::~SerialPort()
{
    // No signals from a half-destroyed object.
    if (d->line)
        d->line->disconnect(this);
    d->releaseLine();
}

std::int32_t SerialPort::setCommPort(int portNumber)
{
    if (isOpen())
        return PortError::AlreadyOpen;
    if (portNumber < 1 || portNumber > PortDirectory::kPortCount)
        return PortError::InvalidValue;
    d->commPort = portNumber;
    return PortError::None;
}

int SerialPort::commPort() const
{
    return d->commPort;
}

std::int32_t SerialPort::setSettings(const QString& text)
{
    // The opening pass writes the same text to every open port every second: a text the line
    // has refused is not asked again until the line opens afresh.
    if (text == d->refusedText)
        return PortError::SettingsFailed;
    if (text == d->settingsText)
        return PortError::None;
    const std::optional<SerialSettings> parsed = parseSerialSettings(text);
    if (!parsed)
        return PortError::InvalidValue;
    d->settingsText = text;
    d->settings = *parsed;
    // A port that has never opened has no line yet: the first open takes the settings.
    if (d->line)
        d->line->applySettings(*parsed);
    else
        d->onSettingsAnswered(true);
    return text == d->refusedText ? PortError::SettingsFailed : PortError::None;
}

QString SerialPort::settings() const
{
    return d->settingsText;
}

std::int32_t SerialPort::open()
{
    if (d->retired)
        return PortError::OpenFailed;
    if (d->lossPending)
        d->completeLoss();
    if (isOpen())
        return PortError::AlreadyOpen;

    const QString path = d->directory.deviceFor(d->commPort);
    if (path.isEmpty())
        return PortError::NoSuchPort;
    if (const std::int32_t bound = d->bindLine(path); bound != PortError::None)
        return bound;
    return errorNumberOf(d->line->open(d->settings));
}

// Told by the line's own events, so that the broadcast's check costs no call into the line.
bool SerialPort::isOpen() const
{
    return d->up && !d->lossPending;
}

void SerialPort::close()
{
    if (d->lossPending)
        d->completeLoss();
    else
        d->releaseLine();
}

void SerialPort::retire()
{
    d->retired = true;
    close();
}

std::int32_t SerialPort::output(const QString& text)
{
    if (!isOpen())
        return PortError::NotOpen;
    return outputEncoded(encodeForWire(text));
}

std::int32_t SerialPort::outputEncoded(const QByteArray& bytes)
{
    if (!isOpen())
        return PortError::NotOpen;
    if (bytes.isEmpty())
        return PortError::None;
    // A line would queue without limit for a device or a connection that does not drain.
    if (!d->line->queueFits(bytes.size(), kOutputLimit))
        return PortError::OutputFull;
    const qint64 waiting = d->line->write(bytes);
    if (waiting < 0)
        return PortError::WriteFailed;
    // Counted and told once it reached the device: what waits in the line's queue may be thrown
    // away.
    if (waiting == 0)
        d->traffic.sent(bytes);
    else
        d->traffic.queued(bytes, waiting);
    return PortError::None;
}

std::int32_t SerialPort::input(QString& received)
{
    if (!isOpen())
        return PortError::NotOpen;
    d->line->collect();
    // The decoder keeps the first bytes of a character cut between two reads for the next one.
    received = d->traffic.takeText();
    return PortError::None;
}

qint64 SerialPort::pendingOutput() const
{
    return pendingOutput(SerialLine::nowNs());
}

qint64 SerialPort::pendingOutput(qint64 nowNs) const
{
    return isOpen() ? d->line->bytesToPace(nowNs) : 0;
}

qint64 SerialPort::pendingRecheckNs(qint64 level) const
{
    return isOpen() ? d->line->paceRecheckNs(level) : -1;
}

bool SerialPort::outputWaiting() const
{
    // Commands the line merely holds back until the next look at the system are whole and go
    // then: only a queue the device has not taken asks for pushing at every yield.
    if (!d->traffic.hasWaiting())
        return false;
    const qint64 held = isOpen() ? d->line->heldBack() : 0;
    return held == 0 || d->line->bytesToWrite() > held;
}

void SerialPort::pushOutput()
{
    if (isOpen())
        d->line->pushOut();
}

QString SerialPort::problem() const
{
    return isOpen() ? QString() : d->lastWarning;
}

const PortCounters& SerialPort::counters() const
{
    return d->traffic.counters();
}

void SerialPort::setObserver(PortObserver* observer, int index)
{
    d->traffic.setObserver(observer, index);
}

QString SerialPort::devicePath() const
{
    if (isOpen())
        return d->boundPath;
    return d->directory.deviceFor(d->commPort);
}
