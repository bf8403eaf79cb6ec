// Feeds arbitrary bytes to the progress reading as one chunk of tool output and
// checks the result against a second, plain implementation of the same rules.
#include "cToolOutput.h"

#include <QChar>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
// White space trimmed at both ends, inner runs folded into one blank.
std::u16string simplify(const QString &text)
{
    std::u16string out;
    bool gap = false;
    for (const QChar c : text) {
        if (c.isSpace()) {
            gap = !out.empty();
            continue;
        }
        if (gap)
            out.push_back(u' ');
        gap = false;
        out.push_back(c.unicode());
    }
    return out;
}

std::u16string lastChars(const std::u16string &text, std::size_t count)
{
    return text.substr(text.size() - std::min(count, text.size()));
}

// Decimal integer of at most three characters, as the C locale reads it: white
// space around it, an optional sign (the Unicode minus too), then ASCII digits
// only. Anything else counts as 0.
int toNumber(const std::u16string &window)
{
    std::size_t begin = 0;
    std::size_t end = window.size();
    while (begin < end && QChar(window[begin]).isSpace())
        ++begin;
    while (end > begin && QChar(window[end - 1]).isSpace())
        --end;
    int sign = 1;
    if (begin < end &&
        (window[begin] == u'+' || window[begin] == u'-' || window[begin] == u'\u2212')) {
        sign = window[begin] == u'+' ? 1 : -1;
        ++begin;
    }
    if (begin == end)
        return 0;
    int value = 0;
    for (std::size_t i = begin; i < end; ++i) {
        if (window[i] < u'0' || window[i] > u'9')
            return 0;
        value = value * 10 + (window[i] - u'0');
    }
    return sign * value;
}

int expectedPercentage(const QString &chunk)
{
    const std::u16string text = simplify(chunk);
    const std::size_t percent = text.rfind(u'%');
    if (percent == std::u16string::npos)
        return 0;
    const bool download = text.find(u"Download") != std::u16string::npos;
    if (!download && text.find(u"Erase") == std::u16string::npos)
        return 0;

    std::u16string window = lastChars(text.substr(0, percent), 3);
    if (window.find(u']') != std::u16string::npos)
        window = lastChars(window, 2);
    const int n = toNumber(window);
    return download ? n / 2 + 50 : n / 2;
}

[[noreturn]] void fail(const char *what, const uint8_t *data, size_t size, long got, long want)
{
    std::fprintf(stderr, "%s: got %ld, expected %ld for %zu bytes:", what, got, want, size);
    for (size_t i = 0; i < size; ++i)
        std::fprintf(stderr, " %02x", data[i]);
    std::fputc('\n', stderr);
    std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    // Not copied, so that a read past the input is caught.
    const QByteArray chunk = QByteArray::fromRawData(bytes, static_cast<int>(size));

    // Only what stands before the first zero byte is read.
    const QString text = cToolOutput::decodeUtf8(chunk);
    const size_t usable = std::find(bytes, bytes + size, '\0') - bytes;
    const QString expectedText = QString::fromUtf8(bytes, static_cast<int>(usable));
    if (text != expectedText)
        fail("decoded text differs, lengths", data, size, text.size(), expectedText.size());

    const int got = cToolOutput::overallPercentage(text);
    const int want = expectedPercentage(text);
    if (got != want)
        fail("overall percentage", data, size, got, want);
    return 0;
}
