#include "TrException.h"

namespace Tr {

Exception::Exception() : FMessage("UNKNOWN") {}

Exception::Exception(const std::string& message) : FMessage(message) {}

Exception::Exception(const char* message) : FMessage(message != nullptr ? message : "UNKNOWN") {}

Exception::~Exception() = default;

const char* Exception::what() const noexcept
{
    return FMessage.c_str();
}

} // namespace Tr
