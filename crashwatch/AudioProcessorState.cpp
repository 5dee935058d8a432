#include "crashwatch/AudioProcessorState.h"

void AudioProcessorState::capture(juce::AudioPluginInstance& instance)
{
    parameterValues.clearQuick();

    // The count is asked again after every value, as a plugin may change it.
    for (int i = 0; i < instance.getParameters().size(); ++i)
        parameterValues.add(instance.getParameters().getUnchecked(i)->getValue());

    programIndex = instance.getNumPrograms() != 0 ? instance.getCurrentProgram() : -1;

    stateData.reset();
    instance.getStateInformation(stateData);
}

void AudioProcessorState::applyTo(juce::AudioPluginInstance& instance) const
{
    if (programIndex != -1)
        instance.setCurrentProgram(programIndex);

    instance.setStateInformation(stateData.getData(), (int) stateData.getSize());

    const auto& parameters = instance.getParameters();
    for (int i = 0; i < parameterValues.size(); ++i)
        if (auto* parameter = parameters[i])
            parameter->setValue(parameterValues.getUnchecked(i));
}
