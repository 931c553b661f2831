// How the core tells the operator about failures. The GUI shows each message in a modal box
// queued to the UI thread, the CLI prints it to stderr, tests record it. A reporter never waits
// for the operator.
#pragma once

#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

namespace quarv {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void report(const std::string& text) = 0;
};

// Writes each message as one line on stderr.
class StderrSink final : public MessageSink {
public:
    void report(const std::string& text) override;
};

// Keeps every message; safe to report into from several threads.
class RecordingSink final : public MessageSink {
public:
    void report(const std::string& text) override;
    std::vector<std::string> messages() const;
    std::string last() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
};

// Drops every message (for callers that check the result themselves).
class NullSink final : public MessageSink {
public:
    void report(const std::string&) override {}
};

// printf-style formatting, as long as the text needs (paths and messages are never cut).
std::string formatMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatMessageV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

} // namespace quarv
