#include "crashwatch/AudioProcessorState.h"

#include "hosting/FileFromPath.h"

void AudioProcessorState::capture(juce::AudioPluginInstance& instance)
{
    parameterValues.clearQuick();

    // The count is asked again after every value, as a plugin may change it.
    for (int i = 0; i < instance.getParameters().size(); ++i)
        parameterValues.add(instance.getParameters().getUnchecked(i)->getValue());

    programIndex = instance.getNumPrograms() != 0 ? instance.getCurrentProgram() : -1;

    stateData.reset();
    instance.getStateInformation(stateData);

    displayName = instance.getName();
    numInputs = instance.getTotalNumInputChannels();
    numOutputs = instance.getTotalNumOutputChannels();
}

void AudioProcessorState::applyTo(juce::AudioPluginInstance& instance) const
{
    if (programIndex != -1)
        instance.setCurrentProgram(programIndex);

    if (!stateData.isEmpty())
        instance.setStateInformation(stateData.getData(), (int) stateData.getSize());

    const auto& parameters = instance.getParameters();
    for (int i = 0; i < parameterValues.size(); ++i)
        if (auto* parameter = parameters[i])
            parameter->setValue(parameterValues.getUnchecked(i));
}

bool AudioProcessorState::holdsState() const
{
    return programIndex != -1 || !stateData.isEmpty() || !parameterValues.isEmpty();
}

bool AudioProcessorState::hasSameStateAs(const AudioProcessorState& other) const
{
    return programIndex == other.programIndex && stateData == other.stateData && parameterValues == other.parameterValues;
}

bool AudioProcessorState::belongsTo(const juce::File& file, const juce::String& name) const
{
    return sourceFile == file && pluginName == name;
}

void AudioProcessorState::setSource(const juce::String& path, const juce::String& name)
{
    filePath = path;
    sourceFile = fileFromPath(path);
    pluginName = name;
}
