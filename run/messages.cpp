// The two senders; the receiver decides how a text crosses threads.
#include "run/messages.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace zud {

namespace {

std::atomic<MessageSink*> g_sink{nullptr};
char g_format_buffer[1024];

}  // namespace

void set_message_sink(MessageSink* sink)
{
    g_sink.store(sink);
}

MessageSink* message_sink()
{
    return g_sink.load();
}

void send_message(const char* text, std::uint32_t /*data*/)
{
    if (MessageSink* sink = g_sink.load())
        sink->deliver(text);
}

int send_message_f(const char* format, ...)
{
    MessageSink* sink = g_sink.load();
    if (sink == nullptr)
        return 0;
    va_list args;
    va_start(args, format);
    std::vsnprintf(g_format_buffer, sizeof g_format_buffer, format, args);
    va_end(args);
    sink->deliver(g_format_buffer);
    return 1;
}

}  // namespace zud
