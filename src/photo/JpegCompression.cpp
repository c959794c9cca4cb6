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

void TJpegCompression::Begin(int width, int height, J_COLOR_SPACE colourSpace) {
    jpeg_create_compress(&Info);
    jpeg_mem_dest(&Info, &Buffer, &Size);
    Info.image_width = static_cast<JDIMENSION>(width);
    Info.image_height = static_cast<JDIMENSION>(height);
    Info.input_components = 3;
    Info.in_color_space = colourSpace;
    jpeg_set_defaults(&Info);
}

TJpegCompression::~TJpegCompression() {
    jpeg_destroy_compress(&Info);  // does nothing before jpeg_create_compress
    std::free(Buffer);             // the memory destination allocates with malloc
}

}  // namespace corvane
