// The inflated form of an iTunesCDB: its mhbd header as it stands, then the inflated data sets,
// in one buffer sized from what the header announces.
#pragma once

#include <cstddef>

#include "base/ByteReader.h"
#include "platform/PageBuffer.h"

namespace corvane {

struct TInflatedITunesDb {
    TPageBuffer Buffer;
    size_t Size = 0;  // bytes of Buffer in use

    TByteReader Reader() const { return TByteReader(Buffer.Data(), Size); }
};

}  // namespace corvane
