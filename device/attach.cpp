#include "device/attach.h"

#include "device/base_device.h"
#include "device/driver_delete.h"

void SHLK_CALL Attach(BaseDevice* device) {
    // The connection goes back first, the endpoints after; the destructor does it the other way.
    GiveUpConnection(device->connection);
    DeleteDriverObject(device->input);
    device->input = nullptr;
    DeleteDriverObject(device->output);
    device->output = nullptr;

    device->connection = OpenConnection(device);

    const std::int32_t count = device->connection->DeviceCount();
    for (std::int32_t i = 0; i < count; ++i) {
        DriverDevice* driverDevice = device->connection->Device(i);
        if (driverDevice == nullptr) {
            continue;
        }
        if (driverDevice->ProductId() == device->productId) {
            // A later match replaces the endpoints of an earlier one; the replaced ones are
            // deleted rather than left open in the library.
            if (driverDevice->HasInput() == 1) {
                DriverInput* opened = driverDevice->OpenInput(0);
                DeleteDriverObject(device->input);
                device->input = opened;
                if (device->input != nullptr) {
                    device->input->SetReceiveCallback(&InputCallback, device);
                }
            }
            if (driverDevice->HasOutput() == 1) {
                DriverOutput* opened = driverDevice->OpenOutput(0);
                DeleteDriverObject(device->output);
                device->output = opened;
                device->RequestStatus();
            }
        }
        DeleteDriverObject(driverDevice);
    }
    device->ConnectionChanged();
}
