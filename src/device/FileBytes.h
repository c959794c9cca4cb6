// The bytes of one whole device file handed to a reader: a disk-mode iPod's own file mapped in
// place, or the copy a mobile device sent over its file service.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/ByteReader.h"
#include "base/MemoryStream.h"
#include "platform/MappedFile.h"

namespace corvane {

struct TFileBytes {
    TMappedFile Mapped;
    TMemoryStream Copied;

    const uint8_t* Data() const { return Mapped.Size() > 0 ? Mapped.Data() : Copied.Data(); }
    size_t Size() const { return Mapped.Size() > 0 ? Mapped.Size() : Copied.Size(); }
    TByteReader Reader() const { return TByteReader(Data(), Size()); }
    void Clear() {
        Mapped.Release();
        Copied.Clear();
    }
};

}  // namespace corvane
