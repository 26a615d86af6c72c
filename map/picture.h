// JPEG background pictures decoded with libjpeg into plain RGB, so the window only wraps the
// pixels.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ruvalda {

// Pictures beyond these are refused before anything is allocated for their pixels.
constexpr int PICTURE_MAX_SIDE = 20000;
constexpr std::size_t PICTURE_MAX_BYTES = 200u * 1024 * 1024;

struct DecodedPicture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;  // 3 bytes per pixel, rows from top to bottom
};

// True when the whole picture was decoded. Damaged data (a libjpeg warning included), an
// unsupported colour space (CMYK) or an absurd size fail; *out is then empty. Nothing is
// printed.
bool decode_jpeg_file(const std::string& path, DecodedPicture* out);
bool decode_jpeg_memory(const unsigned char* data, std::size_t size, DecodedPicture* out);

}  // namespace ruvalda
