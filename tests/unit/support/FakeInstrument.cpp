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

    midiEvents += midi.getNumEvents();
    lastBlockSamples = buffer.getNumSamples();
    ++blocks;
}
