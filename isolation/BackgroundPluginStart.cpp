#include "isolation/BackgroundPluginStart.h"

#include "isolation/IsolatedPluginInstance.h"

namespace pendulum::isolation
{
BackgroundPluginStart::BackgroundPluginStart(juce::String fileToLoad, juce::String nameInFile, double sampleRate,
                                             int blockSize, std::function<void(juce::AudioPluginInstance&)> setUp,
                                             std::function<void()> whenDone)
    : file(std::move(fileToLoad)), pluginName(std::move(nameInFile)), loader(std::make_unique<IsolatedPluginLoader>())
{
    // Nobody to ask on that thread: a file with several plugins and no name is left to the
    // ordinary load, on the message thread.
    loader->setMayChoose(false);
    worker = std::thread([this, sampleRate, blockSize, setUp = std::move(setUp), whenDone = std::move(whenDone)] {
        run(sampleRate, blockSize, setUp, whenDone);
    });
}

BackgroundPluginStart::~BackgroundPluginStart()
{
    if (!isDone())
        loader->abandon();
    if (worker.joinable())
        worker.join();
}

void BackgroundPluginStart::run(double sampleRate, int blockSize, const std::function<void(juce::AudioPluginInstance&)>& setUp,
                                const std::function<void()>& whenDone)
{
    // No exception leaves the thread: a failure is a start without a plugin.
    try
    {
        if (auto* instance = loader->createPluginInstance(file, "VST", pluginName))
        {
            instance->setRateAndBufferSizeDetails(sampleRate, blockSize);
            instance->prepareToPlay(sampleRate, blockSize);
            if (setUp)
                setUp(*instance);
            auto* isolated = dynamic_cast<IsolatedPluginInstance*>(instance);
            succeeded = isolated != nullptr && !isolated->getConnection().failed();
        }
    }
    catch (...)
    {
        succeeded = false;
    }
    done.store(true, std::memory_order_release);
    if (whenDone)
        whenDone();
}

std::unique_ptr<IsolatedPluginLoader> BackgroundPluginStart::take()
{
    if (!isDone())
        return nullptr;
    if (worker.joinable())
        worker.join();
    if (!succeeded)
        return nullptr;
    return std::move(loader);
}
} // namespace pendulum::isolation
