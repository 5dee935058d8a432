#include "isolation/IsolatedPluginLoader.h"

#include "hosting/FileFromPath.h"
#include "hosting/ModalChoosers.h"
#include "isolation/IsolatedPluginInstance.h"

namespace pendulum::isolation
{
juce::AudioPluginInstance* IsolatedPluginLoader::createPluginInstance(const juce::String& file, const juce::String&,
                                                                      const juce::String& pluginName)
{
    pluginFile = fileFromPath(file);
    plugin_instance.reset();
    chosenDescription = nullptr;
    problem = {};

    juce::String error;
    auto connection = SlotConnection::start(SlotConnection::findHelper().getFullPathName(), file, {}, &error);
    if (connection == nullptr)
    {
        outcome = Outcome::helperUnavailable;
        problem = error;
        return nullptr;
    }

    const auto crashed = [&](const juce::String& during) {
        outcome = Outcome::pluginFailed;
        problem = "the plugin ended its process while " + during + " (" + connection->failureCause() + ")";
        return nullptr;
    };

    const auto listed = connection->call(Command::listPlugins, 0, {}, 0.0, SlotConnection::loadTimeoutMs);
    if (connection->failed())
        return crashed("being scanned");

    const auto names = juce::StringArray::fromLines(listed.text);
    juce::String chosen = pluginName;
    if (chosen.isEmpty())
    {
        if (listed.text.isEmpty() || names.isEmpty())
        {
            outcome = Outcome::refused;
            problem = "the file holds no plugin";
            return nullptr;
        }
        chosen = names.size() == 1 ? names[0] : chooseOptionFromList("Please choose a plugin", names);
    }
    if (chosen.isEmpty() || !names.contains(chosen))
    {
        outcome = Outcome::refused;
        problem = "the file holds no plugin named " + chosen.quoted();
        return nullptr;
    }

    const auto loaded = connection->call(Command::load, 0, chosen, 0.0, SlotConnection::loadTimeoutMs);
    if (connection->failed())
        return crashed("loading");
    if (!loaded.ok)
    {
        outcome = Outcome::refused;
        problem = "the plugin could not be created";
        return nullptr;
    }

    auto instance = IsolatedPluginInstance::create(std::move(connection), loaded.text);
    if (instance == nullptr)
    {
        outcome = Outcome::refused;
        problem = "the plugin could not be created";
        return nullptr;
    }

    auto* description = new juce::PluginDescription();
    instance->fillInPluginDescription(*description);
    description->fileOrIdentifier = file;
    pluginDescriptions.add(description);
    chosenDescription = description;
    plugin_instance = std::move(instance);
    outcome = Outcome::created;
    return plugin_instance.get();
}
} // namespace pendulum::isolation
