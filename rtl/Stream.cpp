#include "Stream.h"

#include "Exceptions.h"

void TStream::WriteBuffer(const void* data, size_t count) {
    if (count != 0 && Write(data, count) != count) throw EWriteError(LoadText(IDS_WRITE_ERROR));
}
