#include "hosting/LoaderGlobals.h"

#include <iostream>

namespace
{
// JUCE's leak detector for descriptions is itself a static; making one description first means it
// outlives the cache, so the cache's descriptions are not reported as leaks when the library unloads.
juce::OwnedArray<juce::PluginDescription> makeDescriptionCache()
{
    juce::PluginDescription first;
    return {};
}
} // namespace

juce::OwnedArray<juce::PluginDescription> scannedDescriptionCache = makeDescriptionCache();
std::unique_ptr<juce::VSTPluginFormat> sharedVstFormat;
int liveVstLoaderCount = 0;

void loaderOutput(const juce::String& text)
{
    std::cout << text.toStdString() << std::flush;
}
