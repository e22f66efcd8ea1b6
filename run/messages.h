// Worker-to-window messages: zero-terminated texts, "#" plus a code letter
// or a plain log line, delivered one at a time to whichever receiver is
// attached (the Qt window, the console loop, a test).
#pragma once

#include <cstdint>

namespace zud {

// A receiver of window messages. deliver() must return only after the text
// has been handled on the receiver's own thread (the sender waits for that);
// a text sent from that thread itself is handled at once.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void deliver(const char* text) = 0;
};

// Attaches the window's receiver; nullptr detaches it. Set it before a run
// starts; the senders read it without a lock.
void set_message_sink(MessageSink* sink);
MessageSink* message_sink();

// Sends a fixed text; does nothing without a receiver. `data` is carried
// for the transport's sake and is 0 for every message of the program.
void send_message(const char* text, std::uint32_t data);

// Formats into one shared buffer and sends it. Returns 1 when a receiver
// handled the text, 0 when there is none. Callers are the worker thread
// only, one at a time, so the buffer needs no lock.
int send_message_f(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zud
