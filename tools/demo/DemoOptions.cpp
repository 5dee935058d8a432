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
                 "sends a crash note to the instrument in charge half-way through, while a chord is held.\n"
                 "Writes a WAV file, a picture of the waveform with the crash, the switch and the crashed\n"
                 "slot's return marked, the event log, and what PluginPendulum printed on standard output.\n"
                 "\n"
                 "Without instruments, slot 0 holds the SegfaultSynth fixture, run in a process of its own\n"
                 "(\"Run plugins in separate processes\"), which really segfaults on note 0, and slot 1 the\n"
                 "MonoSynth fixture as a hot standby. Where the helper process cannot start, the run falls\n"
                 "back to the cooperative crash report and says so. Two paths of VST2 instruments of your own\n"
                 "replace the fixtures; the crash note is then sent as well, but only an instrument that\n"
                 "ends its process or answers the crash query makes PluginPendulum switch.\n"
                 "\n"
                 "options:\n"
                 "  --seconds S          length of the run (default 8)\n"
                 "  --crash-at S         when the crash note is sent (default: 0.1 s after half-way)\n"
                 "  --no-crash           play through without the crash note\n"
                 "  --cooperative        slot 0 in the host's process: the CrashPlainSynth fixture goes\n"
                 "                       silent on note 0 and reports its crash to the watchdog's query\n"
                 "  --no-hot-standby     the standby plays only from the switch on\n"
                 "  --watch-period MS    the watchdog's period (default 50; the container's own is 1000)\n"
                 "  --out DIR            output folder (default demo-output)\n"
                 "  --plugin PATH        the PluginPendulum library to load (default: the one built)\n"
                 "  --check              exit with 2 unless the files were written, the switch happened,\n"
                 "                       sound came back (within one block of the crash for an isolated\n"
                 "                       slot with the hot standby, otherwise with at most\n"
                 "                       --max-silent-blocks silent blocks at the switch), the notes held\n"
                 "                       at the crash were heard across it, and an isolated slot came\n"
                 "                       back with its snapshot before the end\n"
                 "  --max-silent-blocks N  silent blocks allowed at the switch, and late blocks of a busy\n"
                 "                       machine after an isolated slot's crash (default 1)\n",
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
        if (argument == "--seconds" || argument == "--crash-at" || argument == "--max-silent-blocks"
            || argument == "--watch-period")
        {
            const char* text = value();
            if (text == nullptr || !toNumber(text, number) || number < 0.0)
                return fail(argument + " needs a number");
            if (argument == "--seconds")
                options.seconds = number;
            else if (argument == "--crash-at")
                options.crashAt = number;
            else if (argument == "--watch-period")
                options.watchPeriodMs = static_cast<int>(number);
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
        else if (argument == "--cooperative")
            options.cooperative = true;
        else if (argument == "--no-hot-standby")
            options.hotStandby = false;
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
    if (options.watchPeriodMs < 50 || options.watchPeriodMs > 1000)
        return fail("--watch-period must lie between 50 and 1000 ms");
    if (options.crashAt && *options.crashAt >= options.seconds)
        return fail("--crash-at must fall inside the run");
    return options;
}

} // namespace pendulum::demo
