#include "isolation/IsolatedPluginLoader.h"

#include "hosting/FileFromPath.h"
#include "hosting/ModalChoosers.h"
#include "isolation/IsolatedPluginInstance.h"

namespace pendulum::isolation
{
juce::AudioPluginInstance* IsolatedPluginLoader::createPluginInstance(const juce::String& file, const juce::String&,
                                                                      const juce::String& pluginName)
{
    // Made already for the same file and plugin (on another thread, beforehand): handed over.
    if (plugin_instance != nullptr && outcome == Outcome::created && file == createdFile && pluginName == createdName)
        return plugin_instance.get();

    {
        const std::lock_guard<std::mutex> lock(startingLock);
        starting = nullptr;
    }
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
    {
        const std::lock_guard<std::mutex> lock(startingLock);
        if (abandoned)
            connection->abandon();
        starting = connection.get(); // owned by the instance later, which the loader keeps
    }
    // A creation that gives no plugin lets its connection go: nothing may reach it afterwards.
    struct ForgetStarting
    {
        IsolatedPluginLoader& loader;
        ~ForgetStarting()
        {
            if (loader.outcome == Outcome::created)
                return;
            const std::lock_guard<std::mutex> lock(loader.startingLock);
            loader.starting = nullptr;
        }
    } forgetStarting { *this };
    outcome = Outcome::refused;

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
        chosen = names.size() == 1 ? names[0] : mayChoose ? chooseOptionFromList("Please choose a plugin", names) : juce::String();
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
    createdFile = file;
    createdName = pluginName;
    return plugin_instance.get();
}

void IsolatedPluginLoader::abandon()
{
    const std::lock_guard<std::mutex> lock(startingLock);
    abandoned = true;
    if (starting != nullptr)
        starting->abandon();
}
} // namespace pendulum::isolation
