// The pictures shown in place of a preview: silver with a white frame for a file that gave
// none, and silver with the word "video" for a video without a poster frame.
#pragma once

#include "base/Bitmap.h"

namespace corvane {

TBitmap MakePlaceholder(int width, int height);
TBitmap MakeVideoPlaceholder(int width, int height);

}  // namespace corvane
