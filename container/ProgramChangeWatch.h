#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <functional>

/**
    Listens to the hosted plugins of a container's slots for changes of their program or program
    list made on their own side (a program picked or a bank loaded in the plugin's editor: the
    plugin asks the host to renew its display, which the framework passes on as a program change)
    and reports the slot on the message thread.

    The container points it at a slot's instance whenever the slot's loader changes, while the old
    instance still exists. Changes the framework reports from another thread are handed over to the
    message thread; only program changes are, so an audio thread's latency report passes through
    without work.
*/
class ProgramChangeWatch final : private juce::AudioProcessorListener
{
public:
    /** `changed(slot)` runs on the message thread, never after the watch is gone. */
    explicit ProgramChangeWatch(std::function<void(int slot)> changed) : onChange(std::move(changed)) {}

    ~ProgramChangeWatch() override
    {
        for (int slot = 0; slot < (int) watched.size(); ++slot)
            watch(slot, nullptr);
        masterReference.clear();
    }

    /** Follows `instance` for the slot from now on (null: nothing); the slot's previous one is left. */
    void watch(int slot, juce::AudioProcessor* instance)
    {
        auto& current = watched[(size_t) slot];
        if (current == instance)
            return;
        if (current != nullptr)
            current->removeListener(this);
        current = instance;
        if (current != nullptr)
            current->addListener(this);
    }

private:
    void audioProcessorChanged(juce::AudioProcessor* processor, const ChangeDetails& details) override
    {
        if (!details.programChanged)
            return;

        if (juce::MessageManager::getInstanceWithoutCreating() != nullptr
            && juce::MessageManager::getInstance()->isThisTheMessageThread())
        {
            report(processor);
            return;
        }

        juce::MessageManager::callAsync([self = juce::WeakReference<ProgramChangeWatch>(this), processor] {
            if (auto* watch = self.get())
                watch->report(processor);
        });
    }

    void audioProcessorParameterChanged(juce::AudioProcessor*, int, float) override {}

    void report(juce::AudioProcessor* processor)
    {
        for (int slot = 0; slot < (int) watched.size(); ++slot)
            if (watched[(size_t) slot] == processor && onChange)
                onChange(slot);
    }

    std::function<void(int)> onChange;
    std::array<juce::AudioProcessor*, 2> watched {};

    JUCE_DECLARE_WEAK_REFERENCEABLE(ProgramChangeWatch)
};
