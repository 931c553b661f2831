#include "core/scan/thread.hpp"

#include <chrono>
#include <cstring>

namespace quarv {

void Semaphore::create(std::uint32_t initial, std::uint32_t maximum) {
    std::lock_guard lock(mutex_);
    maximum_ = maximum == 0 ? 1 : maximum;
    count_ = initial > maximum_ ? maximum_ : initial;
    closed_ = false;
}

bool Semaphore::wait(std::uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    const auto ready = [this] { return closed_ || count_ > 0; };
    if (timeoutMs == kInfinite) {
        cv_.wait(lock, ready);
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return false;
    }
    if (closed_) return false;
    --count_;
    return true;
}

bool Semaphore::release() {
    {
        std::lock_guard lock(mutex_);
        if (closed_ || count_ >= maximum_) return false;
        ++count_;
    }
    cv_.notify_one();
    return true;
}

void Semaphore::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        count_ = 0;
    }
    cv_.notify_all();
}

std::uint32_t Semaphore::count() const {
    std::lock_guard lock(mutex_);
    return count_;
}

Thread::~Thread() {
    join();
}

void Thread::init(const char* name, int priority, std::uint32_t stackSize) {
    name_.fill('\0');
    if (name) std::strncpy(name_.data(), name, name_.size() - 1);
    priority_ = priority;
    stackSize_ = stackSize;
    entry_ = nullptr;
    argument_ = nullptr;
}

void Thread::start(Entry entry, void* argument) {
    join();
    entry_ = entry;
    argument_ = argument;
    handle_ = std::thread([entry, argument] { entry(argument); });
}

void Thread::join() {
    if (handle_.joinable() && handle_.get_id() != std::this_thread::get_id()) handle_.join();
}

} // namespace quarv
