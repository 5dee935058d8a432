#include "state/MemoryBlockBase64.h"

#include <cstring>

namespace memory_block_base64
{
namespace
{
constexpr char alphabet[] = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+";

// Characters from '+' (43) to 'z' (122); -1 marks a character that is skipped.
struct DecodingTable
{
    signed char values[256];

    DecodingTable() noexcept
    {
        std::memset(values, -1, sizeof(values));

        // In the range the framework decodes, characters outside the alphabet count as 0.
        for (int c = 43; c < 43 + 80; ++c)
            values[c] = 0;

        for (int i = 0; i < 64; ++i)
            values[(unsigned char) alphabet[i]] = (signed char) i;
    }
};

const DecodingTable& decodingTable()
{
    static const DecodingTable table;
    return table;
}

size_t digitsOf(size_t value) noexcept
{
    size_t digits = 1;
    while (value >= 10)
    {
        value /= 10;
        ++digits;
    }
    return digits;
}
} // namespace

size_t encodedLength(size_t numBytes) noexcept
{
    return digitsOf(numBytes) + 1 + (numBytes * 8 + 5) / 6;
}

void encode(const void* data, size_t numBytes, char* dest) noexcept
{
    const auto digits = digitsOf(numBytes);
    auto count = numBytes;
    for (size_t i = digits; i > 0; --i)
    {
        dest[i - 1] = (char) ('0' + count % 10);
        count /= 10;
    }
    dest += digits;
    *dest++ = '.';

    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t i = 0;

    for (; i + 3 <= numBytes; i += 3)
    {
        const auto bits = (juce::uint32) bytes[i] | ((juce::uint32) bytes[i + 1] << 8) | ((juce::uint32) bytes[i + 2] << 16);
        dest[0] = alphabet[bits & 63];
        dest[1] = alphabet[(bits >> 6) & 63];
        dest[2] = alphabet[(bits >> 12) & 63];
        dest[3] = alphabet[(bits >> 18) & 63];
        dest += 4;
    }

    const auto left = numBytes - i;

    if (left == 1)
    {
        const auto bits = (juce::uint32) bytes[i];
        dest[0] = alphabet[bits & 63];
        dest[1] = alphabet[(bits >> 6) & 63];
    }
    else if (left == 2)
    {
        const auto bits = (juce::uint32) bytes[i] | ((juce::uint32) bytes[i + 1] << 8);
        dest[0] = alphabet[bits & 63];
        dest[1] = alphabet[(bits >> 6) & 63];
        dest[2] = alphabet[(bits >> 12) & 63];
    }
}

juce::String encodeToString(const juce::MemoryBlock& block)
{
    juce::HeapBlock<char> text(encodedLength(block.getSize()) + 1);
    encode(block.getData(), block.getSize(), text.get());
    text[encodedLength(block.getSize())] = 0;
    return juce::String(text.get());
}

bool decode(const char* text, size_t length, juce::MemoryBlock& block)
{
    const auto* dot = static_cast<const char*>(std::memchr(text, '.', length));

    if (dot == nullptr)
    {
        block.reset();
        return false;
    }

    // The count reads as the framework reads an integer: white space, one sign, then digits.
    const auto count = juce::String::fromUTF8(text, (int) (dot - text)).getLargeIntValue();
    const auto* chars = dot + 1;
    const auto numChars = length - (size_t) (chars - text);

    if (count < 0 || (juce::uint64) count > (juce::uint64) numChars * 6 / 8 + 8)
    {
        block.reset();
        return false;
    }

    block.setSize((size_t) count, true);
    auto* out = static_cast<unsigned char*>(block.getData());
    const auto totalBits = (juce::uint64) count * 8;
    const auto& table = decodingTable().values;

    juce::uint64 bitPos = 0;
    size_t c = 0;

    // Whole groups of four characters that are all in range make three whole bytes.
    while (c + 4 <= numChars && bitPos + 24 <= totalBits)
    {
        const int v0 = table[(unsigned char) chars[c]], v1 = table[(unsigned char) chars[c + 1]],
                  v2 = table[(unsigned char) chars[c + 2]], v3 = table[(unsigned char) chars[c + 3]];

        if ((v0 | v1 | v2 | v3) < 0 || (bitPos & 7) != 0)
            break;

        const auto bits = (juce::uint32) v0 | ((juce::uint32) v1 << 6) | ((juce::uint32) v2 << 12) | ((juce::uint32) v3 << 18);
        auto* o = out + (bitPos >> 3);
        o[0] = (unsigned char) bits;
        o[1] = (unsigned char) (bits >> 8);
        o[2] = (unsigned char) (bits >> 16);
        bitPos += 24;
        c += 4;
    }

    // The rest, six bits at a time, skipping characters out of range.
    for (; c < numChars && bitPos < totalBits; ++c)
    {
        const int value = table[(unsigned char) chars[c]];

        if (value < 0)
            continue;

        for (int b = 0; b < 6 && bitPos < totalBits; ++b, ++bitPos)
        {
            auto& byte = out[bitPos >> 3];
            const auto mask = (unsigned char) (1u << (bitPos & 7));
            byte = (unsigned char) ((value >> b) & 1 ? (byte | mask) : (byte & ~mask));
        }
    }

    return true;
}
} // namespace memory_block_base64
