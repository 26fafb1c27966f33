#pragma once

#include <QByteArray>
#include <QString>
#include <span>

// Someone who wants to see each port's traffic and events as they happen (the session log).
// Calls come on the window thread, from inside the port bank; an observer must return at once
// and must not call back into the bank. Indexes are 0 to 15 (port number - 1).
class PortObserver {
public:
    enum class Event {
        Opened,   // detail: "<device> <settings text>", or "<device>" for a line without settings
        InUse,    // the opening pass found the port held elsewhere; detail: the device
        Lost,     // the device went away while open; detail: the device
        Returned, // opened again after a loss; detail: as for Opened
        Dropped,  // received bytes dropped by the receive bound; detail: the byte count
        // Output thrown away unsent as the port closed (the program ending, or the port closed
        // with commands still queued); those commands were never told as sent. detail: "<bytes>
        // bytes of <commands> commands"
        Discarded,
    };

    virtual ~PortObserver() = default;
    // One command, exactly the bytes handed to this port's output.
    virtual void commandSent(int index, const QByteArray& bytes) = 0;
    // Commands the line took in one go, oldest first. An observer that has no use for them
    // together gets one commandSent() each.
    virtual void commandsSent(int index, std::span<const QByteArray> commands)
    {
        for (const QByteArray& bytes : commands)
            commandSent(index, bytes);
    }
    // Bytes as they came off the line, before decoding, in arrival order. Valid only during the
    // call: an observer that keeps them copies them.
    virtual void bytesReceived(int index, const QByteArray& bytes) = 0;
    virtual void portEvent(int index, Event event, const QString& detail) = 0;
    // Whether the observer is behind with what it was told, so that a writer sending back to
    // back (the fast sweep) should wait before telling it more.
    virtual bool isBehind() const { return false; }
};
