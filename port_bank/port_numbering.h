#pragma once

#include <QString>
#include <QStringList>
#include <array>

// Gives serial devices the port numbers 1 to 16 and keeps them: on the first look the devices
// are numbered in a stable order (built-in UARTs, then USB adapters, then the rest, each in
// natural order); a device seen later takes the lowest free number; a device that goes away
// keeps its number, so an adapter plugged back gets its old one.
class PortNumbering {
public:
    static constexpr int kPortCount = 16;

    // Takes the devices present now (paths such as "/dev/ttyUSB0") and numbers the new ones.
    void update(const QStringList& presentDevices);

    // The device numbered portNumber, or "" when the number is free.
    QString deviceFor(int portNumber) const;

    // The order in which devices seen at the same time are numbered.
    static bool comesBefore(const QString& a, const QString& b);

private:
    std::array<QString, kPortCount> devices_;
};
