// Connecting a device object to its controller through the driver library.
#pragma once

#include "device/driver_connection.h"

class BaseDevice;

// Gives up the connection and endpoints held, opens a fresh connection, takes the endpoints of the
// device whose product identifier matches, installs the receive path, requests the status and
// tells the device. Also the library's devices-changed callback, with the device as context.
void SHLK_CALL Attach(BaseDevice* device);
