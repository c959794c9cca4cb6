#include "photo/JpegCompression.h"

#include <cstdlib>

namespace corvane {

namespace {

void Quiet(j_common_ptr) {}

}  // namespace

void TJpegCompression::Fail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<TErrors*>(info->err)->Jump, 1);
}

TJpegCompression::TJpegCompression() {
    jpeg_std_error(&FErrors.Pub);
    FErrors.Pub.error_exit = Fail;
    FErrors.Pub.output_message = Quiet;
    Info.err = &FErrors.Pub;
}

TJpegCompression::~TJpegCompression() {
    jpeg_destroy_compress(&Info);  // does nothing before jpeg_create_compress
    std::free(Buffer);             // the memory destination allocates with malloc
}

}  // namespace corvane
