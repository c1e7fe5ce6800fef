// Arbitrary resource bytes through every reader of FirmwareImage.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/host/sim.h"
#include "platform/win32.h"
#include "res/resource.h"
#include "update/firmware_image.h"

namespace {

void ReadAll(FirmwareImage& image) {
    std::array<std::uint8_t, 6> version{};
    if (image.ReadVersion(version)) {
        std::string text;
        FirmwareImage::FormatVersion(version, text);
    }
    std::array<std::uint8_t, FirmwareImage::kMessageBufferSize> buffer{};
    image.ReadHeader(buffer);
    // ReadNextMessage moves forward on every success, so this ends.
    while (image.ReadNextMessage(buffer)) {
        image.ReadVersion(version);
    }
    image.ReadHeader(buffer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sim::Reset();
    sim::SetResource(RT_RCDATA, IDR_FIRMWARE, std::vector<std::uint8_t>(data, data + size));
    FirmwareImage image;
    if (image.Load()) {
        ReadAll(image);
    }
    // The version digits themselves come from the image: any six bytes.
    if (size >= 6) {
        std::array<std::uint8_t, 6> digits{};
        std::copy_n(data, digits.size(), digits.begin());
        std::string text;
        FirmwareImage::FormatVersion(digits, text);
    }
    return 0;
}
