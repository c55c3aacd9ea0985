// TEMPORARY STAND-IN until the owner's TrException.h lands on main.
#pragma once
#include <exception>
#include <string>

namespace Tr {

class Exception : public std::exception
{
public:
    Exception() : FMessage("UNKNOWN") {}
    explicit Exception(const std::string& message) : FMessage(message) {}
    explicit Exception(const char* message) : FMessage(message) {}
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

} // namespace Tr
