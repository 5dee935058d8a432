#pragma once

#include <string>
#include <vector>

namespace pendulum::demo
{

/** Writes two equally long channels as a 16-bit PCM stereo WAV file; samples beyond +-1 are clipped. */
bool writeStereoWav(const std::string& path, const std::vector<float>& left, const std::vector<float>& right,
                    int sampleRate);

} // namespace pendulum::demo
