#include "DemoOptions.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace pendulum::demo
{

namespace
{
void printUsage(std::FILE* to, const char* program)
{
    std::fprintf(to,
                 "usage: %s [options] [INSTRUMENT0 INSTRUMENT1]\n"
                 "\n"
                 "Loads PluginPendulum as a DAW does, fills its two slots, plays a phrase in real time and\n"
                 "sends a crash note to the instrument in charge half-way through. Writes a WAV file, a\n"
                 "picture of the waveform with the crash and the switch marked, the event log, and what\n"
                 "PluginPendulum printed on standard output meanwhile.\n"
                 "\n"
                 "Without instruments, slot 0 holds the CrashPlainSynth fixture (it fails on note 0) and\n"
                 "slot 1 the MonoSynth fixture. Two paths of VST2 instruments of your own replace them; the\n"
                 "crash note is then sent as well, but only an instrument that answers the crash query\n"
                 "makes PluginPendulum switch.\n"
                 "\n"
                 "options:\n"
                 "  --seconds S          length of the run (default 8)\n"
                 "  --crash-at S         when the crash note is sent (default: 0.1 s after half-way)\n"
                 "  --no-crash           play through without the crash note\n"
                 "  --out DIR            output folder (default demo-output)\n"
                 "  --plugin PATH        the PluginPendulum library to load (default: the one built)\n"
                 "  --check              exit with 2 unless the switch happened, sound came back with at\n"
                 "                       most --max-silent-blocks silent blocks at the switch, and the\n"
                 "                       files were written\n"
                 "  --max-silent-blocks N  (default 1)\n",
                 program);
}

bool toNumber(const std::string& text, double& out)
{
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && end != nullptr && *end == '\0';
}
} // namespace

std::optional<DemoOptions> parseDemoOptions(int argc, char** argv, const DemoOptions& defaults, int& exitCode)
{
    DemoOptions options = defaults;
    std::vector<std::string> instruments;
    exitCode = 0;

    const auto fail = [&](const std::string& message) -> std::optional<DemoOptions> {
        std::fprintf(stderr, "%s: %s\n\n", argv[0], message.c_str());
        printUsage(stderr, argv[0]);
        exitCode = 1;
        return std::nullopt;
    };

    for (int i = 1; i < argc; ++i)
    {
        const std::string argument = argv[i];
        const auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        double number = 0.0;

        if (argument == "--help" || argument == "-h")
        {
            printUsage(stdout, argv[0]);
            return std::nullopt;
        }
        if (argument == "--seconds" || argument == "--crash-at" || argument == "--max-silent-blocks")
        {
            const char* text = value();
            if (text == nullptr || !toNumber(text, number) || number < 0.0)
                return fail(argument + " needs a number");
            if (argument == "--seconds")
                options.seconds = number;
            else if (argument == "--crash-at")
                options.crashAt = number;
            else
                options.maxSilentBlocksAtSwitch = static_cast<int>(number);
        }
        else if (argument == "--out" || argument == "--plugin")
        {
            const char* text = value();
            if (text == nullptr)
                return fail(argument + " needs a path");
            (argument == "--out" ? options.outputFolder : options.pluginPath) = text;
        }
        else if (argument == "--no-crash")
            options.sendCrash = false;
        else if (argument == "--check")
            options.check = true;
        else if (!argument.empty() && argument[0] == '-')
            return fail("unknown option " + argument);
        else
            instruments.push_back(argument);
    }

    if (instruments.size() == 2)
    {
        options.instrument0 = instruments[0];
        options.instrument1 = instruments[1];
    }
    else if (!instruments.empty())
        return fail("give two instruments (slot 0 and slot 1) or none");

    if (options.seconds < 1.0)
        return fail("--seconds must be at least 1");
    if (options.crashAt && *options.crashAt >= options.seconds)
        return fail("--crash-at must fall inside the run");
    return options;
}

} // namespace pendulum::demo
