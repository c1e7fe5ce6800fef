#include <algorithm>

#include "tools/firmware_format.h"

namespace firmware {
namespace {

// splitmix64: small, well mixed and the same everywhere.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint8_t Next7() {
        state_ += 0x9E3779B97F4A7C15ULL;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        return static_cast<std::uint8_t>(z & 0x7F);
    }

private:
    std::uint64_t state_;
};

}  // namespace

std::vector<std::uint8_t> Generate() {
    std::vector<std::uint8_t> image(kHeader.begin(), kHeader.end());
    image.reserve(kImageSize);
    Random random(kSeed);
    std::uint32_t crc = 0;
    for (std::size_t block = 0; block < kBlocks; ++block) {
        image.insert(image.end(), kPrefix.begin(), kPrefix.end());
        image.push_back(block + 1 == kBlocks ? kTypeLastBlock : kTypeBlock);
        std::size_t payloadStart = image.size();
        for (std::size_t i = 0; i < kBlockPayload; ++i) {
            image.push_back(random.Next7());
        }
        crc = Crc32(std::span(image).subspan(payloadStart, kBlockPayload), crc);
        image.push_back(0xF7);
    }
    image.insert(image.end(), kPrefix.begin(), kPrefix.end());
    image.push_back(kTypeFinal);
    for (std::size_t i = 0; i < kFinalPayload - kCrcBytes; ++i) {
        image.push_back(random.Next7());
    }
    auto encoded = EncodeCrc(crc);
    image.insert(image.end(), encoded.begin(), encoded.end());
    image.push_back(0xF7);
    return image;
}

}  // namespace firmware
