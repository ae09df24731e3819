// libFuzzer target for the JSON reader every remote call goes through (a server reads hostile requests
// with it): any input is read or refused with an Exception, never a crash, and any bytes written as a
// JSON string read back unchanged.
#include "host/errors.h"
#include "host/json.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        vnd::JsonReader reader(text);
        reader.ReadVariant();
    } catch (const Exception &) {
    }
    vnd::JsonWriter writer;
    writer.String(text);
    vnd::JsonReader back(writer.Bytes());
    if (back.ReadString() != text)
        __builtin_trap();
    return 0;
}
