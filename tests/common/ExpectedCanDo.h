#pragma once

// What the container answers a host's canDo questions: 1 yes, -1 no, 0 don't know. Shared by the
// in-process tests and the tests of the built plugin, so both check one table.
namespace pendulum::expected
{
struct CanDoAnswer
{
    const char* text;
    long answer;
};

inline constexpr CanDoAnswer canDoAnswers[] = {
    { "receiveVstEvents", 1 },     { "receiveVstMidiEvent", 1 },    { "receiveVstMidiEvents", 1 },
    { "sendVstEvents", -1 },       { "sendVstMidiEvent", -1 },      { "sendVstMidiEvents", -1 },
    { "receiveVstTimeInfo", 1 },   { "conformsToWindowRules", 1 },  { "bypass", 1 },
    { "openCloseAnyThread", -1 },  { "supportsViewDpiScaling", 0 }, { "hasCockosExtensions", 0 },
    { "MPE", 0 },                  { "offline", 0 },                { "", 0 },
    { "ReceiveVstEvents", 0 },     { "somethingNobodyAsks", 0 },
};
} // namespace pendulum::expected
