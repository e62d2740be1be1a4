#pragma once

#include "SerialPortControl.h"

#include <memory>

// The serial control the program runs with: port N where the machine has
// it (or where `deviceMap` says: benchmarks put a pseudo-terminal there),
// holding at most a sixty-fourth of the memory the program may use unread,
// since reception holds a few times that outside the text
// (MemoryBudget::receiveLimitFor).
std::unique_ptr<SerialPortControl> makeComm1(
    SerialPortControl::DeviceMap deviceMap = SerialPortControl::DeviceMap(&SerialPortControl::defaultLocation));
