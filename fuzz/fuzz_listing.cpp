// Feeds arbitrary bytes to the bootloader search as a device listing and checks
// the answer against a plain search of the bytes.
#include "cToolOutput.h"

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
bool expectedListed(const char *bytes, size_t size)
{
    // Only what stands before the first zero byte is read. An ASCII byte decodes
    // to itself in UTF-8, also next to invalid sequences, so the bytes can be
    // searched as they are.
    const char *end = std::find(bytes, bytes + size, '\0');
    const char id[] = "483:df11";
    return std::search(bytes, end, id, id + std::strlen(id)) != end;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    // Not copied, so that a read past the input is caught.
    const QByteArray listing = QByteArray::fromRawData(bytes, static_cast<int>(size));

    const bool got = cToolOutput::listsBootloader(listing);
    const bool want = expectedListed(bytes, size);
    if (got != want) {
        std::fprintf(stderr, "listsBootloader: got %d, expected %d for %zu bytes:", got, want,
                     size);
        for (size_t i = 0; i < size; ++i)
            std::fprintf(stderr, " %02x", data[i]);
        std::fputc('\n', stderr);
        std::abort();
    }
    return 0;
}
