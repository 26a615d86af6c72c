// Arbitrary bytes as a JPEG picture: decoded or refused, never more than the size bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "map/picture.h"

using namespace ruvalda;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DecodedPicture picture;
    if (decode_jpeg_memory(data, size, &picture)) {
        if (picture.width <= 0 || picture.height <= 0 || picture.width > PICTURE_MAX_SIDE ||
            picture.height > PICTURE_MAX_SIDE ||
            picture.rgb.size() != static_cast<std::size_t>(picture.width) * picture.height * 3)
            std::abort();
    } else if (picture.width != 0 || !picture.rgb.empty()) {
        std::abort();
    }
    return 0;
}
