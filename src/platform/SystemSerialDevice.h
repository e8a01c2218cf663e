#ifndef VELK_SYSTEMSERIALDEVICE_H
#define VELK_SYSTEMSERIALDEVICE_H

#include "ISerialDevice.h"

#include <memory>

// The serial device of the platform the program is built for: a tty on
// POSIX, a COM device on Windows.
std::unique_ptr<ISerialDevice> makeSystemSerialDevice();

#endif
