// One libjpeg compression into memory. The library's fatal errors leave through longjmp to
// the one function that called setjmp on Jump(), which must hold only trivially destructible
// locals; this object frees what the library made, whichever way the compression ended.
#pragma once

// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
// clang-format on

#include <csetjmp>

namespace corvane {

class TJpegCompression {
public:
    TJpegCompression();
    ~TJpegCompression();
    TJpegCompression(const TJpegCompression&) = delete;
    TJpegCompression& operator=(const TJpegCompression&) = delete;

    std::jmp_buf& Jump() { return FErrors.Jump; }
    // Starts a compression of a picture of three components into Buffer with the library's
    // defaults for that colour space; may leave through Jump() as any library call.
    void Begin(int width, int height, J_COLOR_SPACE colourSpace);

    jpeg_compress_struct Info{};
    // Filled by jpeg_mem_dest.
    unsigned char* Buffer = nullptr;
    unsigned long Size = 0;

private:
    struct TErrors {
        jpeg_error_mgr Pub;  // first, so that the library's pointer converts back
        std::jmp_buf Jump;
    };
    [[noreturn]] static void Fail(j_common_ptr info);

    TErrors FErrors{};
};

}  // namespace corvane
