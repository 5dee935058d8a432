// libFuzzer target: state documents, damaged or hostile, given to a container as a host gives a
// project's chunk. After every input the container must still save a document that parses, and
// play a block. Dialogs are answered "cancel" at once, or closed (there is nobody to answer them).
#include "container/LoadDialogs.h"
#include "container/PluginContainerAudioProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <X11/Xlib.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace
{
class DeclinedDialogs : public LoadDialogs
{
public:
    juce::File choosePluginFile() override { return {}; }
    LocateAnswer askToLocateMissingFile(const juce::String&) override { return LocateAnswer::cancel; }
    juce::String locatePluginFile() override { return {}; }
    void warnSharedEffect() override {}
};

/** Nobody sits at the fuzzer: every modal dialog (the plugin chooser of a shell file) is closed. */
class DialogCloser : private juce::Timer
{
public:
    DialogCloser() { startTimer(5); }
    ~DialogCloser() override { stopTimer(); }

private:
    void timerCallback() override
    {
        if (auto* modal = juce::Component::getCurrentlyModalComponent())
            modal->exitModalState(0);
    }
};

struct Session
{
    juce::ScopedJuceInitialiser_GUI juce; // this thread becomes the message thread
    DialogCloser closer;
    std::unique_ptr<PluginContainerAudioProcessor> container;

    Session()
    {
        container = std::make_unique<PluginContainerAudioProcessor>();
        container->setLoadDialogs(std::make_shared<DeclinedDialogs>());
        container->prepareToPlay(44100.0, 64);
    }
};

Session* session = nullptr;

void checkStillUsable(PluginContainerAudioProcessor& container)
{
    juce::MemoryBlock saved;
    container.getStateInformation(saved);
    const auto text = juce::String::fromUTF8(static_cast<const char*>(saved.getData()), (int) saved.getSize());
    if (juce::XmlDocument::parse(text) == nullptr)
        std::abort(); // the container wrote a document it cannot read back

    juce::AudioBuffer<float> buffer(2, 64);
    juce::MidiBuffer midi;
    midi.addEvent(juce::MidiMessage::noteOn(1, 60, (juce::uint8) 100), 0);
    const juce::ScopedLock lock(container.getCallbackLock());
    if (!container.isSuspended())
        container.processBlock(buffer, midi);
    for (int channel = 0; channel < 2; ++channel)
        for (int i = 0; i < 64; ++i)
            if (!std::isfinite(buffer.getSample(channel, i)))
                std::abort();
}
} // namespace

// Like a real host, this one handles X errors itself: JUCE inside a plugin leaves that to the host,
// and Xlib's default handler ends the process (a document that shows the console does so under a
// display without a window manager, where an atom JUCE asks about does not exist).
int ignoreXError(Display*, XErrorEvent*)
{
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    XSetErrorHandler(ignoreXError);
    session = new Session(); // lives for the whole run
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto& container = *session->container;
    container.setStateInformation(data, (int) size);
    checkStillUsable(container);
    return 0;
}
