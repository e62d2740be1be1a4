#pragma once

// Why the serial control raised OnComm.
enum class LineEvent {
    None,            // no OnComm raised yet
    Receive,         // at least RThreshold characters wait for Input
    LineLost,        // the device went away; what it sent before waits for Input
    ReceiveOverflow, // the receive buffer is full: reading stops until Input empties it
};
