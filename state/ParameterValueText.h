#pragma once

#include <juce_core/juce_core.h>

/**
    A parameter value as the state document writes it: the float widened to double, in general
    notation with up to 20 significant digits, '.' as the decimal point whatever the locale, no
    trailing zeros, an exponent for small values (0.5 gives 0.5; the float nearest to 0.1 gives
    0.10000000149011611938; 1 gives 1).
*/
juce::String parameterValueText(float value);
