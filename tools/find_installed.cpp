// Checks an installed PluginPendulum the way a DAW finds it: by file name in its VST folders.
// Each folder must hold the plugin file, and each copy must load through VSTPluginMain and
// present itself as the instrument DAWs list.
//
//   pendulum-find-installed [folder...]
//
// Without folders: $HOME/.vst and $HOME/.lxvst, the per-user folders Linux DAWs scan (Windows has
// no such convention; name the folder there). Exit status 0 only when every folder passes.
#include "RawVstHost.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
constexpr const char* expectedEffectName = "PluginPendulum(Synth)";

bool checkFolder(const std::string& folder)
{
    const std::string path = folder + "/" + PENDULUM_PLUGIN_FILE_NAME;

    pendulum::rawhost::RawVstHost host;
    if (!host.load(path))
    {
        std::printf("FAIL %s: %s\n", folder.c_str(), host.error().c_str());
        return false;
    }
    host.open();
    const std::string name = host.effectName();
    host.close();

    if (name != expectedEffectName)
    {
        std::printf("FAIL %s: effect name \"%s\", expected \"%s\"\n", path.c_str(), name.c_str(),
                    expectedEffectName);
        return false;
    }
    std::printf("found %s: %s\n", path.c_str(), name.c_str());
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> folders(argv + 1, argv + argc);
    if (folders.empty())
    {
#ifdef _WIN32
        std::fprintf(stderr, "usage: pendulum-find-installed <VST folder>...\n");
        return 2;
#else
        const char* home = std::getenv("HOME");
        if (home == nullptr || *home == 0)
        {
            std::fprintf(stderr, "HOME is not set; name the folders to check\n");
            return 2;
        }
        folders = { std::string(home) + "/.vst", std::string(home) + "/.lxvst" };
#endif
    }

    bool allFound = true;
    for (const auto& folder : folders)
        allFound = checkFolder(folder) && allFound;
    return allFound ? 0 : 1;
}
