#include "PngWriter.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace pendulum::demo
{

namespace
{
std::array<std::uint32_t, 256> makeCrcTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n)
    {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) != 0 ? 0xedb88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

std::uint32_t crc32(const unsigned char* data, size_t size)
{
    static const auto table = makeCrcTable();
    std::uint32_t c = 0xffffffffu;
    for (size_t i = 0; i < size; ++i)
        c = table[(c ^ data[i]) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

std::uint32_t adler32(const std::vector<unsigned char>& data)
{
    constexpr std::uint32_t modulus = 65521;
    std::uint32_t a = 1, b = 0;
    for (unsigned char byte : data)
    {
        a = (a + byte) % modulus;
        b = (b + a) % modulus;
    }
    return (b << 16) | a;
}

void putBig32(std::vector<unsigned char>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>((value >> shift) & 0xff));
}

void putChunk(std::vector<unsigned char>& out, const char* type, const std::vector<unsigned char>& data)
{
    putBig32(out, static_cast<std::uint32_t>(data.size()));
    const auto typeStart = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    putBig32(out, crc32(out.data() + typeStart, out.size() - typeStart));
}

/** A zlib stream of stored deflate blocks (at most 65535 bytes each). */
std::vector<unsigned char> storedZlib(const std::vector<unsigned char>& raw)
{
    constexpr size_t maxBlock = 65535;
    std::vector<unsigned char> out = { 0x78, 0x01 }; // deflate, 32K window; no dictionary, check bits valid
    size_t position = 0;
    do
    {
        const auto length = std::min(maxBlock, raw.size() - position);
        const bool last = position + length == raw.size();
        out.push_back(last ? 1 : 0); // BFINAL, BTYPE 00 (stored)
        out.push_back(static_cast<unsigned char>(length & 0xff));
        out.push_back(static_cast<unsigned char>(length >> 8));
        out.push_back(static_cast<unsigned char>(~length & 0xff));
        out.push_back(static_cast<unsigned char>((~length >> 8) & 0xff));
        out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(position),
                   raw.begin() + static_cast<std::ptrdiff_t>(position + length));
        position += length;
    } while (position < raw.size());
    putBig32(out, adler32(raw));
    return out;
}
} // namespace

IndexedImage::IndexedImage(int width, int height, std::vector<Rgb> palette)
    : width_(width), height_(height), palette_(std::move(palette)),
      pixels_(static_cast<size_t>(width) * static_cast<size_t>(height), 0)
{
}

void IndexedImage::set(int x, int y, std::uint8_t colour)
{
    if (x >= 0 && y >= 0 && x < width_ && y < height_)
        pixels_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)] = colour;
}

std::uint8_t IndexedImage::at(int x, int y) const
{
    return pixels_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)];
}

void IndexedImage::fill(int x, int y, int w, int h, std::uint8_t colour)
{
    for (int row = y; row < y + h; ++row)
        for (int column = x; column < x + w; ++column)
            set(column, row, colour);
}

void IndexedImage::verticalLine(int x, int y0, int y1, std::uint8_t colour)
{
    for (int y = std::min(y0, y1); y <= std::max(y0, y1); ++y)
        set(x, y, colour);
}

void IndexedImage::horizontalLine(int x0, int x1, int y, std::uint8_t colour)
{
    for (int x = std::min(x0, x1); x <= std::max(x0, x1); ++x)
        set(x, y, colour);
}

std::vector<unsigned char> encodePng(const IndexedImage& image)
{
    std::vector<unsigned char> file = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n' };

    std::vector<unsigned char> header;
    putBig32(header, static_cast<std::uint32_t>(image.width()));
    putBig32(header, static_cast<std::uint32_t>(image.height()));
    header.insert(header.end(), { 8, 3, 0, 0, 0 }); // 8 bits, palette colour, deflate, no filter, no interlace
    putChunk(file, "IHDR", header);

    std::vector<unsigned char> palette;
    for (const auto& colour : image.palette())
        palette.insert(palette.end(), { colour.r, colour.g, colour.b });
    putChunk(file, "PLTE", palette);

    std::vector<unsigned char> raw;
    raw.reserve(static_cast<size_t>(image.height()) * (static_cast<size_t>(image.width()) + 1));
    const auto* pixels = image.pixels().data();
    for (int y = 0; y < image.height(); ++y)
    {
        raw.push_back(0); // filter: none
        const auto* row = pixels + static_cast<size_t>(y) * static_cast<size_t>(image.width());
        raw.insert(raw.end(), row, row + image.width());
    }
    putChunk(file, "IDAT", storedZlib(raw));
    putChunk(file, "IEND", {});
    return file;
}

bool writePng(const std::string& path, const IndexedImage& image)
{
    const auto bytes = encodePng(image);
    std::ofstream file(std::filesystem::u8path(path), std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

} // namespace pendulum::demo
