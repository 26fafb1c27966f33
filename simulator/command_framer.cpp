#include "simulator/command_framer.h"

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isBodyByte(char c)
{
    return c > ' ' && c < 0x7f && c != ':' && c != '.';
}

} // namespace

void CommandFramer::startCommand()
{
    state_ = State::Colons;
    bodySize_ = 0;
    length_ = 1;
}

void CommandFramer::reject(Sink& sink, State next)
{
    sink.onRejected();
    state_ = next;
}

void CommandFramer::feed(const char* data, std::size_t size, Sink& sink)
{
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        switch (state_) {
        case State::AfterStatus:
            state_ = State::Between;
            if (c == '.')
                break;
            [[fallthrough]];
        case State::Between:
            if (c == ':')
                startCommand();
            else if (!isBlank(c))
                reject(sink, State::Skipping);
            break;
        case State::Skipping:
            if (c == ':')
                startCommand();
            break;
        case State::Overlong:
            // The rest of a command that is too long, up to its '.'; a ':' after anything but
            // a colon begins the next command.
            if (c == '.')
                state_ = State::Between;
            else if (c == ':' && !lastWasColon_)
                startCommand();
            break;
        case State::Colons:
        case State::Body:
            if (c == '.') {
                if (bodySize_ == 0)
                    reject(sink, State::Between);
                else {
                    state_ = State::Between;
                    sink.onCommand(std::string_view(body_, bodySize_));
                }
            } else if (c == ':') {
                if (state_ == State::Body) {
                    sink.onRejected(); // no '.' before the next command began
                    startCommand();
                } else if (++length_ >= kMaxCommandBytes) {
                    reject(sink, State::Overlong);
                }
            } else if (c == 'G' && state_ == State::Colons) {
                state_ = State::AfterStatus;
                sink.onReadStatus();
            } else if (!isBodyByte(c)) {
                reject(sink, State::Skipping);
            } else if (++length_ >= kMaxCommandBytes) {
                // With this byte the command can no longer end in 128 bytes with its '.'.
                reject(sink, State::Overlong);
            } else {
                state_ = State::Body;
                body_[bodySize_++] = c;
            }
            break;
        }
        lastWasColon_ = c == ':';
    }
}
