#pragma once

#include <QtCore/QString>

#include <cstdint>
#include <exception>

// The one way a failed operation on a control is reported: a 32-bit signed
// number and a description. Controls throw it; the window host catches it at
// its single dispatch point (or inside an armed error trap), a widget at the
// catch point of its entries from Qt, and neither lets it cross the event
// loop.
//
// The numbers are stable and listed in the README; a description names the
// device and the operating system's reason where there is one.
class ErrorReport : public std::exception
{
public:
    ErrorReport(std::int32_t number, QString description);

    // What a catch point reports for whatever was thrown: an ErrorReport as
    // it is; anything else as InternalFailure, described as "Out of memory"
    // for std::bad_alloc, by its what() for any other std::exception, and
    // as "Unknown failure" for what is no exception class at all (or for
    // no exception).
    static ErrorReport fromException(const std::exception_ptr &failure);
    // The same for the exception being handled: only inside a catch block.
    static ErrorReport fromCurrentException() { return fromException(std::current_exception()); }

    std::int32_t Number() const noexcept { return m_number; }
    const QString &Description() const noexcept { return m_description; }

    // For logs and test failure output only; the program shows Description().
    const char *what() const noexcept override;

private:
    std::int32_t m_number = 0;
    QString m_description;
    QByteArray m_what;
};

// The table of error numbers. Keep in step with the README.
namespace ErrorNumber {
inline constexpr std::int32_t InvalidPropertyValue = 1001; // malformed Settings, negative threshold
inline constexpr std::int32_t InvalidPortNumber = 1002;    // CommPort outside 1..255
inline constexpr std::int32_t PortAlreadyOpen = 1003;      // PortOpen set True while open
inline constexpr std::int32_t PortChangeWhileOpen = 1004;  // CommPort changed while open
inline constexpr std::int32_t DeviceAbsent = 1010;         // no such device
inline constexpr std::int32_t PermissionDenied = 1011;     // device exists, access refused
inline constexpr std::int32_t DeviceInUse = 1012;          // another program holds the device
inline constexpr std::int32_t NotATerminal = 1013;         // the path is not a serial device
inline constexpr std::int32_t OpenFailed = 1014;           // any other reason the open failed
inline constexpr std::int32_t ConfigurationFailed = 1015;  // the device refused the line settings
inline constexpr std::int32_t InternalFailure = 1099;      // memory exhausted, a library's exception
} // namespace ErrorNumber
