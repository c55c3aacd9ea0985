#pragma once

#include <exception>
#include <string>

namespace Tr {

// The one error type of the libraries and the application. The message is a finished,
// readable text that whoever catches the exception can show as it stands.
class Exception : public std::exception
{
public:
    Exception();                                    // message "UNKNOWN"
    explicit Exception(const std::string& message);
    explicit Exception(const char* message);        // a null text counts as no message: "UNKNOWN"
    ~Exception() override;

    const char* what() const noexcept override;     // never null

protected:
    std::string FMessage;
};

} // namespace Tr
