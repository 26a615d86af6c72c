#include "map/picture.h"

#include <csetjmp>
#include <cstdio>
#include <new>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

namespace ruvalda {

namespace {

// A progressive picture has about a dozen scans; damaged data can make libjpeg walk through
// thousands of empty ones.
constexpr int MAX_SCANS = 1000;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// libjpeg's own handler prints and exits; ours goes back to decode().
[[noreturn]] void give_up(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings mean damaged data (a truncated file among them); such a picture is refused rather
// than shown half grey. Trace messages are dropped.
void on_message(j_common_ptr cinfo, int level) {
    if (level < 0) give_up(cinfo);
}

void no_output(j_common_ptr) {}

void on_progress(j_common_ptr cinfo) {
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > MAX_SCANS) give_up(cinfo);
}

bool reserve(std::vector<unsigned char>& pixels, std::size_t bytes) {
    try {
        pixels.reserve(bytes);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void clear(DecodedPicture* out) {
    out->width = out->height = 0;
    out->rgb.clear();
    out->rgb.shrink_to_fit();
}

using Attach = void (*)(j_decompress_ptr, void*);

// Only C structs and pointers live in this frame, so the jump back from libjpeg skips no
// destructor.
bool decode(Attach attach, void* source, DecodedPicture* out) {
    clear(out);
    jpeg_decompress_struct cinfo{};
    ErrorManager errors{};
    jpeg_progress_mgr progress{};
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = give_up;
    errors.pub.emit_message = on_message;
    errors.pub.output_message = no_output;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        clear(out);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    // Bounds libjpeg's own buffers (the coefficients of a progressive picture).
    cinfo.mem->max_memory_to_use = static_cast<long>(PICTURE_MAX_BYTES);
    progress.progress_monitor = on_progress;
    cinfo.progress = &progress;
    attach(&cinfo, source);

    jpeg_read_header(&cinfo, TRUE);
    const JDIMENSION width = cinfo.image_width, height = cinfo.image_height;
    if (width == 0 || height == 0 || width > PICTURE_MAX_SIDE || height > PICTURE_MAX_SIDE ||
        static_cast<std::size_t>(width) * height * 3 > PICTURE_MAX_BYTES)
        give_up(reinterpret_cast<j_common_ptr>(&cinfo));
    cinfo.out_color_space = JCS_RGB;  // grey pictures too
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 3 || cinfo.output_width != width ||
        cinfo.output_height != height)
        give_up(reinterpret_cast<j_common_ptr>(&cinfo));

    // Reserved whole but filled row by row, so damaged data stops before much is touched.
    const std::size_t stride = static_cast<std::size_t>(width) * 3;
    if (!reserve(out->rgb, stride * height)) give_up(reinterpret_cast<j_common_ptr>(&cinfo));
    while (cinfo.output_scanline < cinfo.output_height) {
        const std::size_t row_start = stride * cinfo.output_scanline;
        out->rgb.resize(row_start + stride);  // within the reserved capacity: cannot throw
        JSAMPROW row = out->rgb.data() + row_start;
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1)
            give_up(reinterpret_cast<j_common_ptr>(&cinfo));
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    out->width = static_cast<int>(width);
    out->height = static_cast<int>(height);
    return true;
}

struct Memory {
    const unsigned char* data;
    std::size_t size;
};

}  // namespace

bool decode_jpeg_file(const std::string& path, DecodedPicture* out) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        clear(out);
        return false;
    }
    const bool decoded =
        decode([](j_decompress_ptr cinfo,
                  void* source) { jpeg_stdio_src(cinfo, static_cast<std::FILE*>(source)); },
               file, out);
    std::fclose(file);
    return decoded;
}

bool decode_jpeg_memory(const unsigned char* data, std::size_t size, DecodedPicture* out) {
    Memory memory{data, size};
    return decode(
        [](j_decompress_ptr cinfo, void* source) {
            const auto* m = static_cast<const Memory*>(source);
            jpeg_mem_src(cinfo, m->data, static_cast<unsigned long>(m->size));
        },
        &memory, out);
}

}  // namespace ruvalda
