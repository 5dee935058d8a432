#pragma once

// A palette image and its PNG file. The image data goes into the file's zlib stream as stored
// (uncompressed) deflate blocks: no compression library needed, and any PNG reader takes it.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace pendulum::demo
{

struct Rgb
{
    std::uint8_t r = 0, g = 0, b = 0;
};

class IndexedImage
{
public:
    IndexedImage(int width, int height, std::vector<Rgb> palette);

    int width() const noexcept { return width_; }
    int height() const noexcept { return height_; }
    const std::vector<Rgb>& palette() const noexcept { return palette_; }
    const std::vector<std::uint8_t>& pixels() const noexcept { return pixels_; }

    /** Sets one pixel; positions outside the image are ignored. */
    void set(int x, int y, std::uint8_t colour);
    std::uint8_t at(int x, int y) const;
    void fill(int x, int y, int w, int h, std::uint8_t colour);
    void verticalLine(int x, int y0, int y1, std::uint8_t colour);
    void horizontalLine(int x0, int x1, int y, std::uint8_t colour);

private:
    int width_, height_;
    std::vector<Rgb> palette_;
    std::vector<std::uint8_t> pixels_;
};

/** The bytes of a PNG file holding the image (8-bit palette colour). */
std::vector<unsigned char> encodePng(const IndexedImage& image);

bool writePng(const std::string& path, const IndexedImage& image);

} // namespace pendulum::demo
