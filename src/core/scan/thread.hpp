// The processing side's two threading primitives. `Semaphore` keeps a count with a maximum
// (1 for every semaphore of the system), so one release made while a run is busy is held for
// the next run and any release beyond that is refused. `Thread` is a named long-lived thread
// running one body; it is joined, never killed.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace quarv {

class Semaphore {
public:
    static constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

    Semaphore() = default;
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Count 1, maximum 1 (the system's semaphores); `initial` 0 starts it taken.
    void create(std::uint32_t initial = 1, std::uint32_t maximum = 1);
    // True when a count was taken within `timeoutMs` (kInfinite waits for ever); false on
    // timeout or when the semaphore is closed.
    bool wait(std::uint32_t timeoutMs = kInfinite);
    // Adds one; false (and nothing changes) when the count is already at its maximum or the
    // semaphore is closed.
    bool release();
    // Wakes every waiter with false; later waits and releases fail at once.
    void close();
    std::uint32_t count() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::uint32_t count_ = 0;
    std::uint32_t maximum_ = 1;
    bool closed_ = true;
};

class Thread {
public:
    using Entry = void (*)(void*);

    Thread() = default;
    ~Thread(); // joins a started thread: its owner must have made the body return first
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // The priority and stack size are kept as the owner asked. The standard thread gets the
    // platform's default priority and a stack at least as large as the 64 KiB asked for.
    void init(const char* name, int priority, std::uint32_t stackSize);
    void start(Entry entry, void* argument);
    // Waits for the body to return (the owner first tells it to stop).
    void join();
    bool running() const { return handle_.joinable(); }

    const char* name() const { return name_.data(); }
    int priority() const { return priority_; }
    std::uint32_t stackSize() const { return stackSize_; }

private:
    std::thread handle_;
    std::array<char, 32> name_{};
    int priority_ = 0;
    std::uint32_t stackSize_ = 0;
    Entry entry_ = nullptr;
    void* argument_ = nullptr;
};

} // namespace quarv
