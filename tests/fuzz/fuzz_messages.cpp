// Feeds arbitrary frames to the incoming-message decoder, as text and as data frames.
#include "net/Messages.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)pondra::net::decodeIncomingMessage(bytes);
    if (const auto text = pondra::net::textOfDataFrame(bytes))
        (void)pondra::net::decodeIncomingMessage(text->toUtf8());
    return 0;
}
