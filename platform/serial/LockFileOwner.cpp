#include "LockFileOwner.h"

#include <cstring>

namespace LockFileOwner {

std::optional<pid_t> ownerIn(QByteArrayView content)
{
    qsizetype at = 0;
    while (at < content.size() && (content[at] == ' ' || content[at] == '\t'))
        ++at;
    const qsizetype digits = at;
    std::int64_t pid = 0;
    while (at < content.size() && content[at] >= '0' && content[at] <= '9' && pid <= PidLimit)
        pid = pid * 10 + (content[at++] - '0');
    const bool ended = at == content.size() || content[at] == ' ' || content[at] == '\t'
        || content[at] == '\n' || content[at] == '\r';
    if (at > digits && ended && pid > 0 && pid <= PidLimit)
        return static_cast<pid_t>(pid);

    if (content.size() == sizeof(std::int32_t)) {
        std::int32_t binary = 0;
        std::memcpy(&binary, content.data(), sizeof binary);
        if (binary > 0 && binary <= PidLimit)
            return static_cast<pid_t>(binary);
    }
    return std::nullopt;
}

} // namespace LockFileOwner
