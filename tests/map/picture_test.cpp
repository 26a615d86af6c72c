// JPEG pictures from disk: the example crossing, grey pictures, and files that are damaged or
// claim absurd sizes.
#include "map/picture.h"

#include <jpeglib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "tests/support/test_support.h"

namespace ruvalda {
namespace {

using test::read_file;
using test::write_file;

// A flat picture of one value per component, encoded by libjpeg.
std::string encode(int width, int height, int components, unsigned char value) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<unsigned char> row(static_cast<std::size_t>(width * components), value);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string bytes(reinterpret_cast<char*>(buffer), size);
    std::free(buffer);
    return bytes;
}

// The same file with the frame header claiming another size.
std::string resized(std::string jpeg, int width, int height) {
    const std::size_t sof = jpeg.find("\xff\xc0");
    jpeg[sof + 5] = static_cast<char>(height >> 8);
    jpeg[sof + 6] = static_cast<char>(height);
    jpeg[sof + 7] = static_cast<char>(width >> 8);
    jpeg[sof + 8] = static_cast<char>(width);
    return jpeg;
}

TEST(PictureTest, TheExampleCrossingDecodesFromFileAndMemory) {
    const std::string path = RUVALDA_SOURCE_DIR "/examples/crossing/crossing.jpg";
    DecodedPicture picture;
    ASSERT_TRUE(decode_jpeg_file(path, &picture));
    EXPECT_EQ(picture.width, 800);
    EXPECT_EQ(picture.height, 800);
    ASSERT_EQ(picture.rgb.size(), 800u * 800u * 3u);
    EXPECT_NE(std::count(picture.rgb.begin(), picture.rgb.end(), picture.rgb[0]),
              static_cast<long>(picture.rgb.size()));

    const std::string bytes = read_file(path);
    DecodedPicture from_memory;
    ASSERT_TRUE(decode_jpeg_memory(reinterpret_cast<const unsigned char*>(bytes.data()),
                                   bytes.size(), &from_memory));
    EXPECT_EQ(from_memory.rgb, picture.rgb);
}

TEST(PictureTest, GreyPicturesComeOutAsRgb) {
    const std::string path = test::temp_dir() + "/grey.jpg";
    write_file(path, encode(16, 8, 1, 128));
    DecodedPicture picture;
    ASSERT_TRUE(decode_jpeg_file(path, &picture));
    EXPECT_EQ(picture.width, 16);
    EXPECT_EQ(picture.height, 8);
    ASSERT_EQ(picture.rgb.size(), 16u * 8u * 3u);
    for (unsigned char c : picture.rgb) EXPECT_NEAR(c, 128, 1);
}

TEST(PictureTest, DamagedOrAbsurdFilesFailCleanly) {
    const std::string dir = test::temp_dir();
    const std::string good = encode(64, 64, 3, 90);
    const std::string crossing = read_file(RUVALDA_SOURCE_DIR "/examples/crossing/crossing.jpg");
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"text", "not a picture\n"},
        {"half", crossing.substr(0, crossing.size() / 2)},
        {"header only", crossing.substr(0, 300)},
        {"too wide", resized(good, 20001, 64)},
        {"too many bytes", resized(good, 15000, 15000)},
        {"no width", resized(good, 0, 64)},
    };
    for (const auto& [name, bytes] : cases) {
        const std::string path = dir + "/" + name + ".jpg";
        write_file(path, bytes);
        DecodedPicture picture{1, 1, {1, 2, 3}};
        EXPECT_FALSE(decode_jpeg_file(path, &picture)) << name;
        EXPECT_EQ(picture.width, 0) << name;
        EXPECT_TRUE(picture.rgb.empty()) << name;
    }
    DecodedPicture picture;
    EXPECT_FALSE(decode_jpeg_file(dir + "/missing.jpg", &picture));
    EXPECT_FALSE(decode_jpeg_file(dir, &picture));
    EXPECT_FALSE(decode_jpeg_memory(nullptr, 0, &picture));
}

}  // namespace
}  // namespace ruvalda
