// Synchronous hand-over of worker texts to a serving thread.
#include "run/message_queue.h"

namespace zud {

QueuedSink::QueuedSink(Handler handler) : handler_(std::move(handler)), serving_thread_(std::this_thread::get_id())
{
}

void QueuedSink::deliver(const char* text)
{
    if (std::this_thread::get_id() == serving_thread_) {
        handler_(text);
        return;
    }
    Pending pending{text};
    std::unique_lock<std::mutex> lock(mutex_);
    queue_.push_back(&pending);
    changed_.notify_all();
    changed_.wait(lock, [&] { return pending.handled; });
}

bool QueuedSink::serve_one(std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, wait, [&] { return !queue_.empty(); }))
        return false;
    Pending* pending = queue_.front();
    queue_.pop_front();
    lock.unlock();
    handler_(pending->text);
    lock.lock();
    pending->handled = true;
    changed_.notify_all();
    return true;
}

}  // namespace zud
