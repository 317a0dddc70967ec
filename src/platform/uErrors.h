#pragma once
// The one exception hierarchy of the agent. Every failure the agent raises derives from
// EAgentError, which carries a message and the class name that logs and status texts print.
#include <exception>
#include <stdexcept>
#include <string>

namespace egaiss {

class EAgentError : public std::runtime_error {
public:
    explicit EAgentError(const std::string& message) : std::runtime_error(message) {}
    virtual const char* ClassName() const noexcept { return "EAgentError"; }
    std::string Message() const { return what(); }
};

// A file or folder operation failed; the message carries the system's reason.
class EFileError : public EAgentError {
public:
    using EAgentError::EAgentError;
    const char* ClassName() const noexcept override { return "EFileError"; }
};

// A network request failed before an HTTP answer arrived (refused, reset, timed out, too large).
class ETransportError : public EAgentError {
public:
    using EAgentError::EAgentError;
    const char* ClassName() const noexcept override { return "ETransportError"; }
};

// The class name logs print for any exception: the agent's own name, else the C++ type name.
std::string ExceptionClassName(const std::exception& error);

}  // namespace egaiss
