#pragma once

#include <cstddef>
#include <string_view>

// Cuts the bytes a controller receives into commands. A command is a run of one or more ':',
// then a body of printable ASCII, then '.'; the whole is at most 128 bytes. "G" right after the
// colons is complete by itself (the read-status preset sends ":::G"); a '.' right after it
// belongs to it. Blanks, CR and LF between commands are ignored. Everything else that does not
// form a command is rejected: each failed command, and each run of stray bytes between
// commands, counts once. Bytes may arrive in pieces cut anywhere.
class CommandFramer {
public:
    class Sink {
    public:
        virtual void onCommand(std::string_view body) = 0; // between the colons and the '.'
        virtual void onReadStatus() = 0;
        virtual void onRejected() = 0;

    protected:
        ~Sink() = default;
    };

    static constexpr std::size_t kMaxCommandBytes = 128;

    void feed(const char* data, std::size_t size, Sink& sink);

private:
    enum class State { Between, Colons, Body, AfterStatus, Skipping, Overlong };
    void startCommand();
    void reject(Sink& sink, State next);

    State state_ = State::Between;
    char body_[kMaxCommandBytes];
    std::size_t bodySize_ = 0;
    std::size_t length_ = 0; // bytes of the command so far, colons included
    bool lastWasColon_ = false;
};
