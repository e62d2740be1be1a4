#include "SystemError.h"

#include "ErrorReport.h"

#include <cerrno>
#include <cstring>

using namespace Qt::StringLiterals;

QString SystemError::description(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

std::int32_t SystemError::errorNumber(int error) noexcept
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
        return ErrorNumber::DeviceAbsent;
    case EACCES:
    case EPERM:
        return ErrorNumber::PermissionDenied;
    case EBUSY:
        return ErrorNumber::DeviceInUse;
    case ENOTTY:
        return ErrorNumber::NotATerminal;
    default:
        return ErrorNumber::OpenFailed;
    }
}

std::int32_t SystemError::lockFileErrorNumber(int error) noexcept
{
    return error == EACCES || error == EPERM ? ErrorNumber::PermissionDenied : ErrorNumber::OpenFailed;
}

namespace {

[[noreturn]] void report(std::int32_t number, const QString &device, int error, const QString &detail)
{
    QString text = device + u": "_s + SystemError::description(error);
    if (!detail.isEmpty())
        text += u" ("_s + detail + u')';
    throw ErrorReport(number, text);
}

} // namespace

void SystemError::fail(const QString &device, int error, const QString &detail)
{
    report(errorNumber(error), device, error, detail);
}

void SystemError::failOnLockFile(const QString &device, int error, const QString &detail)
{
    report(lockFileErrorNumber(error), device, error, detail);
}
