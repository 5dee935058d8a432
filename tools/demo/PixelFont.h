#pragma once

// A 5x7 pixel font for the labels of the waveform picture: capital letters, digits and a little
// punctuation (lower-case letters are drawn as capitals; anything else as a space).
#include "PngWriter.h"

#include <string>

namespace pendulum::demo
{

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;

/** Draws the text with its top left corner at (x, y), each font pixel `scale` pixels wide; the width drawn. */
int drawText(IndexedImage& image, int x, int y, const std::string& text, std::uint8_t colour, int scale = 1);

int textWidth(const std::string& text, int scale = 1);

} // namespace pendulum::demo
