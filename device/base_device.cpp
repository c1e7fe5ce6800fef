#include "device/base_device.h"

#include <cstring>

#include "device/driver_delete.h"
#include "diag/trace.h"

BaseDevice::BaseDevice()
    : productId(81),
      variant(3),
      skipToSysexEnd(false),
      productName{},
      sysexBuffer(new std::uint8_t[kInitialSysexCapacity]),
      sysexCapacity(kInitialSysexCapacity),
      sysexLength(0),
      ringWrite(0),
      ringRead(0),
      deviceName{},
      output(nullptr),
      input(nullptr),
      connection(nullptr),
      statusFlagA(1),
      statusFlagB(1),
      statusValue(0),
      statusCode(0),
      nrpnBankArmed(false),
      nrpnProgramArmed(false) {
    std::strncpy(productName, "Quadrilux Pro", kNameLength);
    productName[kNameLength] = '\0';
}

BaseDevice::~BaseDevice() {
    // Endpoints first, then the connection: the reverse of what Attach does, and the library
    // copes with both.
    DeleteDriverObject(input);
    DeleteDriverObject(output);
    GiveUpConnection(connection);
    delete[] sysexBuffer;
}

void BaseDevice::RequestStatus() {
    // The message sits between two zeroed guard zones, so a send that writes into its buffer is
    // noticed afterwards.
    constexpr std::size_t kGuard = 256;
    constexpr std::size_t kLength = 14;
    static constexpr std::uint8_t kTemplate[kLength] = {0xF0, 0x00, 0x20, 0x29, 0x03, 0x01, 0x7F,
                                                        0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0xF7};
    std::uint8_t block[kGuard + kLength + kGuard] = {};
    std::uint8_t* message = block + kGuard;
    std::memcpy(message, kTemplate, kLength);
    message[7] = 0x60;
    message[8] |= 0x20;

    WriteSysex(message, static_cast<std::int32_t>(kLength));

    bool corrupted = false;
    for (std::size_t i = 0; i < kGuard; ++i) {
        if (block[i] != 0 || block[kGuard + kLength + i] != 0) {
            corrupted = true;
        }
    }
    if (corrupted) {
        DebugTrace("RDS guard zones corrupted\n");
    }
}

void BaseDevice::WriteSysex(const std::uint8_t* bytes, std::int32_t length) {
    if (output == nullptr) {
        return;
    }
    if (bytes == nullptr || length <= 0) {
        // Nothing to look at: refuse without reading.
        DebugTrace("WriteSysex - invalid packet. len = %d, (start=%02x, end=%02x)\n", length, 0, 0);
        return;
    }
    if (bytes[0] == 0xF0 && bytes[length - 1] == 0xF7) {
        output->SendBytes(bytes, length);
        return;
    }
    DebugTrace("WriteSysex - invalid packet. len = %d, (start=%02x, end=%02x)\n", length, bytes[0],
               bytes[length - 1]);
}

void BaseDevice::BankChanged(std::int32_t value) { DebugTrace("bank -> %d\n", value); }

void BaseDevice::ProgramChanged(std::int32_t /*value*/) {}
