#include "state/ParameterValueText.h"

#include <charconv>

juce::String parameterValueText(float value)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof(text), (double) value, std::chars_format::general, 20);
    return juce::String(text, (size_t) (result.ptr - text));
}
