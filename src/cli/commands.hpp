// The command table of quarv-cli and the small argument helpers the commands share.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quarv::cli {

struct Command {
    const char* name;
    const char* usage;
    int (*run)(int argc, char** argv);
};

// Commands add themselves with a static Registration in their own file.
std::vector<Command>& commands();
struct Registration {
    explicit Registration(Command c) { commands().push_back(c); }
};

// Minimal option parser: positional arguments plus "--name value" and "--flag".
class Args {
public:
    Args(int argc, char** argv, std::vector<std::string> flagNames);
    const std::vector<std::string>& positional() const { return positional_; }
    std::optional<std::string> value(const std::string& name) const;
    bool flag(const std::string& name) const;
    std::optional<double> number(const std::string& name) const; // nullopt if absent
    // Unknown option or a number that doesn't parse: the first problem, else empty.
    const std::string& error() const { return error_; }

private:
    std::vector<std::string> positional_;
    std::vector<std::pair<std::string, std::string>> values_;
    std::vector<std::string> flags_;
    mutable std::string error_;
};

} // namespace quarv::cli
