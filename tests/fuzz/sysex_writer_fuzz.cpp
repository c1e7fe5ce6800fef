// Arbitrary bytes through the SysEx writer: whatever it reports complete is one well-formed message.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "device/sysex_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SysExWriter writer;
    for (std::size_t i = 0; i < size; ++i) {
        if (!writer.Write(data[i])) {
            continue;
        }
        const auto& message = writer.Message();
        bool wellFormed = message.size() >= 2 && message.front() == 0xF0 && message.back() == 0xF7;
        for (std::size_t j = 1; wellFormed && j + 1 < message.size(); ++j) {
            wellFormed = message[j] < 0x80;
        }
        if (!wellFormed) {
            std::abort();
        }
    }
    return 0;
}
