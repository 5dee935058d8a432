#include "support/FakeInstrument.h"

namespace
{
class FakeParameter : public juce::HostedAudioProcessorParameter
{
public:
    FakeParameter(juce::String parameterName, float initial) : name(std::move(parameterName)), value(initial) {}

    juce::String getParameterID() const override { return name; }
    float getValue() const override { return value; }
    void setValue(float newValue) override { value = newValue; }
    float getDefaultValue() const override { return 0.0f; }
    juce::String getName(int maximumLength) const override { return name.substring(0, maximumLength); }
    juce::String getLabel() const override { return {}; }
    float getValueForText(const juce::String& text) const override { return text.getFloatValue(); }
    juce::String getText(float normalised, int) const override { return juce::String(normalised, 3); }

private:
    juce::String name;
    float value;
};
} // namespace

juce::AudioProcessor::BusesProperties FakeInstrument::busesFor(int numInputs, int numOutputs)
{
    BusesProperties buses;
    if (numInputs > 0)
        buses = buses.withInput("In", juce::AudioChannelSet::discreteChannels(numInputs), true);
    return buses.withOutput("Out", juce::AudioChannelSet::discreteChannels(numOutputs), true);
}

FakeInstrument::FakeInstrument(int id, int numOutputs, int numParameters, int numInputs)
    : juce::AudioPluginInstance(busesFor(numInputs, numOutputs)), pluginId(id), ownInputs(numInputs),
      ownOutputs(numOutputs)
{
    for (int i = 0; i < numParameters; ++i)
    {
        const auto name = "p" + juce::String(id) + "." + juce::String(i);
        addHostedParameter(std::make_unique<FakeParameter>(name, (float) i / (float) juce::jmax(1, numParameters)));
    }
}

void FakeInstrument::fillInPluginDescription(juce::PluginDescription& description) const
{
    description.name = getName();
    description.pluginFormatName = "Fake";
    description.isInstrument = true;
    description.numInputChannels = getTotalNumInputChannels();
    description.numOutputChannels = getTotalNumOutputChannels();
}

void FakeInstrument::prepareToPlay(double sampleRate, int samplesPerBlock)
{
    // Like a hosted VST2 plugin, it goes back to its own channel counts whatever it was told before.
    setPlayConfigDetails(ownInputs, ownOutputs, sampleRate, samplesPerBlock);
    preparedRate = sampleRate;
    preparedBlock = samplesPerBlock;
}

void FakeInstrument::processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    const auto writable = juce::jmin(buffer.getNumChannels(), getTotalNumOutputChannels());
    for (int channel = 0; channel < writable; ++channel)
        juce::FloatVectorOperations::fill(buffer.getWritePointer(channel), signature(channel), buffer.getNumSamples());

    for (const auto metadata : midi)
    {
        const auto n = received.load();
        if (n < maxRecordedEvents && metadata.numBytes <= 3)
        {
            auto& event = receivedEvents[(size_t) n];
            event.block = blocks.load();
            event.sample = metadata.samplePosition;
            event.size = metadata.numBytes;
            std::copy(metadata.data, metadata.data + metadata.numBytes, event.bytes);
            received.store(n + 1);
        }
        play(metadata.data, metadata.numBytes);
    }

    midiEvents += midi.getNumEvents();
    lastBlockSamples = buffer.getNumSamples();
    ++blocks;
}

void FakeInstrument::play(const juce::uint8* data, int size) noexcept
{
    if (size < 3 || data[0] < 0x80 || data[0] >= 0xf0)
        return;
    const int channel = (data[0] & 0x0f) + 1;
    const int kind = data[0] & 0xf0;
    const int data1 = data[1], data2 = data[2];
    const auto keyUp = [&](int note) {
        if (keyDown[index(channel, note)] && sustain[(size_t) channel - 1])
            pedalHeld[index(channel, note)] = true;
        keyDown[index(channel, note)] = false;
    };
    const auto releasePedal = [&] {
        for (int note = 0; note < 128; ++note)
            pedalHeld[index(channel, note)] = false;
    };

    if (kind == 0x90 && data2 > 0)
    {
        keyDown[index(channel, data1)] = true;
        pedalHeld[index(channel, data1)] = false;
    }
    else if (kind == 0x80 || kind == 0x90)
    {
        keyUp(data1);
    }
    else if (kind == 0xb0)
    {
        if (data1 == 64)
        {
            sustain[(size_t) channel - 1] = data2 >= 64;
            if (data2 < 64)
                releasePedal();
        }
        else if (data1 == 123)
        {
            for (int note = 0; note < 128; ++note)
                keyUp(note);
        }
        else if (data1 == 120 || data1 == 121)
        {
            if (data1 == 120)
                for (int note = 0; note < 128; ++note)
                    keyDown[index(channel, note)] = false;
            sustain[(size_t) channel - 1] = false;
            releasePedal();
        }
    }
}

int FakeInstrument::soundingNotes() const noexcept
{
    int count = 0;
    for (size_t i = 0; i < keyDown.size(); ++i)
        count += keyDown[i] || pedalHeld[i] ? 1 : 0;
    return count;
}
