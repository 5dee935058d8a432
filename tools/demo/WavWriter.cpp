#include "WavWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>

namespace pendulum::demo
{

namespace
{
// RIFF fields are little-endian whatever the machine.
void put16(std::vector<unsigned char>& out, std::uint16_t value)
{
    out.push_back(static_cast<unsigned char>(value & 0xff));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

void put32(std::vector<unsigned char>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<unsigned char>((value >> shift) & 0xff));
}

void putText(std::vector<unsigned char>& out, const char* text)
{
    out.insert(out.end(), text, text + 4);
}

std::int16_t toPcm16(float sample)
{
    const auto clipped = std::clamp(sample, -1.0f, 1.0f);
    return static_cast<std::int16_t>(std::lround(clipped * 32767.0f));
}
} // namespace

bool writeStereoWav(const std::string& path, const std::vector<float>& left, const std::vector<float>& right,
                    int sampleRate)
{
    constexpr std::uint16_t channels = 2;
    constexpr std::uint16_t bytesPerSample = 2;
    const auto frames = std::min(left.size(), right.size());
    const auto dataBytes = static_cast<std::uint32_t>(frames * channels * bytesPerSample);

    std::vector<unsigned char> bytes;
    bytes.reserve(44 + dataBytes);
    putText(bytes, "RIFF");
    put32(bytes, 36 + dataBytes);
    putText(bytes, "WAVE");

    putText(bytes, "fmt ");
    put32(bytes, 16);
    put16(bytes, 1); // PCM
    put16(bytes, channels);
    put32(bytes, static_cast<std::uint32_t>(sampleRate));
    put32(bytes, static_cast<std::uint32_t>(sampleRate) * channels * bytesPerSample);
    put16(bytes, channels * bytesPerSample);
    put16(bytes, bytesPerSample * 8);

    putText(bytes, "data");
    put32(bytes, dataBytes);
    for (size_t i = 0; i < frames; ++i)
    {
        put16(bytes, static_cast<std::uint16_t>(toPcm16(left[i])));
        put16(bytes, static_cast<std::uint16_t>(toPcm16(right[i])));
    }

    std::ofstream file(std::filesystem::u8path(path), std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

} // namespace pendulum::demo
