#include "Comm1.h"

#include "MemoryBudget.h"
#include "MemoryLimit.h"

#include <utility>

std::unique_ptr<SerialPortControl> makeComm1(SerialPortControl::DeviceMap deviceMap)
{
    return std::make_unique<SerialPortControl>(std::move(deviceMap),
                                               MemoryBudget::receiveLimitFor(MemoryLimit::available()));
}
