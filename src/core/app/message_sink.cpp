#include "core/app/message_sink.hpp"

#include <cstdarg>
#include <cstdio>

namespace quarv {

void StderrSink::report(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

void RecordingSink::report(const std::string& text) {
    std::lock_guard lock(mutex_);
    messages_.push_back(text);
}

std::vector<std::string> RecordingSink::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::string RecordingSink::last() const {
    std::lock_guard lock(mutex_);
    return messages_.empty() ? std::string() : messages_.back();
}

void RecordingSink::clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

std::string formatMessage(const char* format, ...) {
    char buffer[128];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

} // namespace quarv
