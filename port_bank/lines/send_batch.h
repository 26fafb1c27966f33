#pragma once

// Line data that a line holds back until the program's current turn of the event loop ends,
// to hand the system in one call: a fast sweep writes a command to every port between two
// looks at the system, and a network line then sends the commands of a look together rather
// than one system call (and one segment through the network stack) for each.
class SendBatch {
public:
    class Holder {
    public:
        // Hands the system what is held.
        virtual void sendHeld() = 0;

    protected:
        ~Holder() = default;
    };

    // holder->sendHeld() is called once the event loop next looks at the system. False when no
    // event loop runs here: send at once then.
    static bool schedule(Holder* holder);
    // A holder that goes away or sends by itself is no longer called.
    static void cancel(Holder* holder);
};
