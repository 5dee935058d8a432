#pragma once

#include <juce_core/juce_core.h>

/**
    The base-64 form of a memory block that the state document uses: the byte count in decimal,
    a '.', then one character per 6 bits from the alphabet ".ABC...XYZabc...xyz0123456789+", the
    block read as a little-endian bit string (bit 0 of byte 0 first). It is the framework's own
    MemoryBlock::toBase64Encoding form, written here without going through a String, so large
    plugin states encode and decode at memory speed.
*/
namespace memory_block_base64
{
/** Characters that encode a block of this many bytes, count and dot included. */
size_t encodedLength(size_t numBytes) noexcept;

/** Writes the encoding of the bytes to dest, which has room for encodedLength(numBytes). */
void encode(const void* data, size_t numBytes, char* dest) noexcept;

/** The encoding as a String, for tests and small blocks. */
juce::String encodeToString(const juce::MemoryBlock& block);

/**
    Decodes text in this form into block, as the framework's decoder does: the count before the
    first '.' sizes the block (zero-filled), the characters after it fill it 6 bits at a time,
    characters outside the alphabet's range are skipped, bits beyond the count are dropped.
    Unlike the framework's decoder it refuses a count that is negative or larger than the
    characters could ever fill (a damaged or hostile document must not make it allocate
    gigabytes). Returns false, with the block emptied, for text without '.' or with such a count.
*/
bool decode(const char* text, size_t length, juce::MemoryBlock& block);
} // namespace memory_block_base64
