#include "hosting/VSTP2PluginLoader.h"

#include "hosting/FileFromPath.h"
#include "hosting/LoaderGlobals.h"
#include "hosting/ModalChoosers.h"

namespace
{
constexpr double initialSampleRate = 48000.0;
constexpr int initialBlockSize = 256;

} // namespace

VSTP2PluginLoader::VSTP2PluginLoader()
{
    if (sharedVstFormat == nullptr)
    {
        loaderOutput("\nInitializing VSTPluginFormat");
        sharedVstFormat = std::make_unique<juce::VSTPluginFormat>();
    }

    ++liveVstLoaderCount;
}

VSTP2PluginLoader::~VSTP2PluginLoader()
{
    loaderOutput("\n~VSTP2PluginLoader()");

    if (plugin_instance != nullptr)
    {
        loaderOutput("\ndeallocating plugin_instance");
        plugin_instance.reset();
    }

    --liveVstLoaderCount;

    if (liveVstLoaderCount == 0 && sharedVstFormat != nullptr)
    {
        loaderOutput("\ndeallocating VSTPluginFormat");
        sharedVstFormat.reset();
    }
}

void VSTP2PluginLoader::setScanWorkerPath(const juce::String& name)
{
    scanWorkerPath = name;
    useScanWorker = false;
}

juce::OwnedArray<juce::PluginDescription>& VSTP2PluginLoader::findPluginDescriptions(const juce::String& file)
{
    loaderOutput("\nChecking is file/id was scanned already: " + file);

    bool cached = false;
    for (auto* description : scannedDescriptionCache)
    {
        if (description->fileOrIdentifier == file)
        {
            cached = true;
            loaderOutput("\nAdding " + file);
            pluginDescriptions.add(new juce::PluginDescription(*description));
        }
    }

    if (cached)
    {
        loaderOutput("\nFile was already loaded before, PluginDescriptions previously stored: "
                     + juce::String(pluginDescriptions.size()));
        return pluginDescriptions;
    }

    loaderOutput("\nFile was not loaded before, finding VST plugins types for:" + file);

    const auto before = pluginDescriptions.size();
    sharedVstFormat->findAllTypesForFile(pluginDescriptions, file);

    loaderOutput("\n->found PluginDescriptions for: " + juce::String(pluginDescriptions.size()));

    // The path as asked for is the key, character for character (JUCE may have normalised it). Only
    // what this scan found goes into the cache; a scan that found nothing adds nothing, so such a
    // file is scanned again next time.
    for (int i = before; i < pluginDescriptions.size(); ++i)
    {
        pluginDescriptions[i]->fileOrIdentifier = file;
        scannedDescriptionCache.add(new juce::PluginDescription(*pluginDescriptions[i]));
    }

    return pluginDescriptions;
}

juce::AudioPluginInstance* VSTP2PluginLoader::createPluginInstance(const juce::String& file,
                                                                   const juce::String& formatName,
                                                                   const juce::String& pluginName)
{
    pluginFile = fileFromPath(file);

    if (plugin_instance != nullptr)
    {
        loaderOutput("\nWarning! plugin_instance != NULL");
        discardInstanceAndDescriptions();
    }

    chosenDescription = nullptr;
    auto& descriptions = findPluginDescriptions(file);

    if (pluginName.isNotEmpty())
    {
        for (auto* description : descriptions)
            if (description->pluginFormatName == formatName && description->name == pluginName)
                makeInstanceFrom(*description);

        return plugin_instance.get();
    }

    if (descriptions.isEmpty())
    {
        plugin_instance.reset();
        chosenDescription = nullptr;
        return nullptr;
    }

    if (descriptions.size() == 1)
    {
        loaderOutput("\nTrying to create instance...");
        makeInstanceFrom(*descriptions.getFirst());

        if (plugin_instance != nullptr)
            loaderOutput("OK");

        return plugin_instance.get();
    }

    juce::StringArray names;
    for (auto* description : descriptions)
        if (description->pluginFormatName == formatName)
            names.add(description->name);

    const auto chosen = chooseOptionFromList("Please choose a plugin", names);

    // Plugins are told apart by name only: with two of the same name, the later one is kept.
    for (auto* description : descriptions)
        if (description->name == chosen)
            makeInstanceFrom(*description);

    return plugin_instance.get();
}

void VSTP2PluginLoader::makeInstanceFrom(juce::PluginDescription& description)
{
    juce::String error;
    auto created = sharedVstFormat->createInstanceFromDescription(description, initialSampleRate, initialBlockSize, error);

    if (created.get() != plugin_instance.get())
        plugin_instance = std::move(created);

    chosenDescription = &description;
}

void VSTP2PluginLoader::discardInstanceAndDescriptions()
{
    chosenDescription = nullptr;
    while (!pluginDescriptions.isEmpty())
        pluginDescriptions.removeLast();
    plugin_instance.reset();
}
