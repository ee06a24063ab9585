// The root of every exception the program raises: a message text.
#pragma once
#include <exception>
#include <string>
#include <utility>

namespace velnor::platform {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    [[nodiscard]] const char* what() const noexcept override { return message_.c_str(); }
    [[nodiscard]] const std::string& Message() const noexcept { return message_; }

private:
    std::string message_;
};

}  // namespace velnor::platform
