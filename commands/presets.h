#pragma once

#include <QList>
#include <QString>

// One preset: a send button and its command box. The window
// sends whatever the box holds when the button is pressed; the default is only where it starts.
struct Preset {
    int index;
    QString caption;
    QString defaultCommand;
};

// The nine presets, in index order 0 to 8.
QList<Preset> presets();
