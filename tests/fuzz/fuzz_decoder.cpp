// libFuzzer target: any bytes either decode or fail with DecodeError; nothing else may happen.

#include "core/WireDecoder.h"

#include <cstdlib>

using namespace oxle;

template <typename Record> static void decode(const QByteArray &bytes)
{
    try {
        const QList<Record> records = decodeArray<Record>(bytes);
        // A decoded response was at least "[]".
        if (bytes.size() < 2)
            std::abort();
        (void)records;
    } catch (const DecodeError &error) {
        if (error.description().isEmpty())
            std::abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    decode<Item>(bytes);
    decode<Category>(bytes);
    decode<ItemState>(bytes);
    decode<ItemCategoryRow>(bytes);
    return 0;
}
