// Writes the shipped firmware image: make_firmware res/firmware.syx
#include <cstdio>

#include "tools/firmware_format.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.syx>\n", argv[0]);
        return 2;
    }
    std::vector<std::uint8_t> image = firmware::Generate();
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fwrite(image.data(), 1, image.size(), out) != image.size()) {
        std::perror(argv[1]);
        return 1;
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
