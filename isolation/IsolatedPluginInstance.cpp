#include "isolation/IsolatedPluginInstance.h"

namespace pendulum::isolation
{
namespace
{
/** Reads the helper's description ("key=value" lines; "param=" once per parameter). */
void parseDescription(const juce::String& text, juce::StringPairArray& values, juce::StringArray& parameterNames)
{
    for (const auto& line : juce::StringArray::fromLines(text))
    {
        const auto key = line.upToFirstOccurrenceOf("=", false, false);
        const auto value = line.fromFirstOccurrenceOf("=", false, false);
        if (key == "param")
            parameterNames.add(value);
        else if (key.isNotEmpty())
            values.set(key, value);
    }
}
} // namespace

juce::AudioProcessor::BusesProperties IsolatedPluginInstance::busesFor(int inputs, int outputs)
{
    BusesProperties buses;
    if (inputs > 0)
        buses.addBus(true, "Input", juce::AudioChannelSet::discreteChannels(inputs), true);
    if (outputs > 0)
        buses.addBus(false, "Output", juce::AudioChannelSet::discreteChannels(outputs), true);
    return buses;
}

/** One of the plugin's parameters: read from the helper's cache, changed through its queue. */
class IsolatedPluginInstance::Parameter final : public HostedParameter
{
public:
    Parameter(SlotConnection& owner, int parameterIndex, juce::String parameterName)
        : connection(owner), index(parameterIndex), name(std::move(parameterName))
    {
    }

    float getValue() const override { return connection.cachedParameter(index); }
    void setValue(float newValue) override { connection.queueParameter(index, newValue); }
    float getDefaultValue() const override { return 0.0f; }
    juce::String getName(int maximumLength) const override { return name.substring(0, maximumLength); }
    juce::String getLabel() const override { return {}; }
    juce::String getText(float value, int maximumLength) const override
    {
        // The plugin's own text of its current value; another value reads as a number.
        if (juce::approximatelyEqual(value, getValue()))
            if (const auto reply = connection.call(Command::getParameterText, index); reply.ok)
                return reply.text.substring(0, maximumLength);
        return juce::String(value, 2).substring(0, maximumLength);
    }
    float getValueForText(const juce::String& text) const override { return text.getFloatValue(); }
    juce::String getParameterID() const override { return juce::String(index); }

private:
    SlotConnection& connection;
    const int index;
    const juce::String name;
};

std::unique_ptr<IsolatedPluginInstance> IsolatedPluginInstance::create(std::unique_ptr<SlotConnection> connection,
                                                                       const juce::String& descriptionText)
{
    if (connection == nullptr || connection->failed())
        return nullptr;

    juce::StringPairArray values;
    juce::StringArray parameterNames;
    parseDescription(descriptionText, values, parameterNames);

    const auto inputs = juce::jlimit(0, maxChannels, values["inputs"].getIntValue());
    const auto outputs = juce::jlimit(0, maxChannels, values["outputs"].getIntValue());
    return std::unique_ptr<IsolatedPluginInstance>(
        new IsolatedPluginInstance(std::move(connection), values, parameterNames, busesFor(inputs, outputs)));
}

IsolatedPluginInstance::IsolatedPluginInstance(std::unique_ptr<SlotConnection> helper, const juce::StringPairArray& values,
                                               const juce::StringArray& parameterNames, const BusesProperties& buses)
    : juce::AudioPluginInstance(buses), connection(std::move(helper))
{
    description.name = values["name"];
    description.descriptiveName = values["descriptiveName"];
    description.manufacturerName = values["manufacturer"];
    description.version = values["version"];
    description.category = values["category"];
    description.uniqueId = description.deprecatedUid = values["uid"].getIntValue();
    description.isInstrument = values["instrument"].getIntValue() != 0;
    description.pluginFormatName = "VST";
    description.numInputChannels = getTotalNumInputChannels();
    description.numOutputChannels = getTotalNumOutputChannels();
    displayName = values["displayName"].isNotEmpty() ? values["displayName"] : description.name;
    numPrograms = juce::jmax(0, values["programs"].getIntValue());
    channels = juce::jmax(getTotalNumInputChannels(), getTotalNumOutputChannels());
    setLatencySamples(values["latency"].getIntValue());

    for (int i = 0; i < parameterNames.size(); ++i)
        addHostedParameter(std::make_unique<Parameter>(*connection, i, parameterNames[i]));

    displayUpdatesSeen = connection->displayUpdates();
    startTimer(displayPollMs);
}

IsolatedPluginInstance::~IsolatedPluginInstance()
{
    stopTimer();
    connection->close();
}

void IsolatedPluginInstance::timerCallback()
{
    // The plugin asked its host in the helper to renew the display (a program picked or a bank
    // loaded in its editor): the listeners here hear it as they would from a plugin in this process.
    const auto updates = connection->displayUpdates();
    if (updates == displayUpdatesSeen || connection->failed())
        return;
    displayUpdatesSeen = updates;
    if (const auto latency = connection->latencySamples(); latency != getLatencySamples())
        setLatencySamples(latency);
    updateHostDisplay(ChangeDetails().withProgramChanged(true));
}

bool IsolatedPluginInstance::openEditor(const juce::String& title, void* ownerWindow, int cascadeStep)
{
    // A plugin may take its time to make its editor (more under Wine): the load's deadline.
    const auto reply = connection->call(Command::openEditor, cascadeStep, title, 0.0, SlotConnection::loadTimeoutMs,
                                        (std::int64_t) reinterpret_cast<std::uintptr_t>(ownerWindow));
    return reply.ok && reply.result == 1;
}

void IsolatedPluginInstance::closeEditor()
{
    // Only an editor that is open: a helper that hangs is not waited for without need.
    if (connection->editorOpen())
        connection->call(Command::closeEditor);
}

void* IsolatedPluginInstance::getEditorWindow() const noexcept
{
    return reinterpret_cast<void*>((std::uintptr_t) connection->editorWindow());
}

SlotConnection::Reply IsolatedPluginInstance::dispatch(int opcode, int index, std::int64_t value, float opt)
{
    return connection->dispatch(opcode, index, value, opt);
}

void IsolatedPluginInstance::fillInPluginDescription(juce::PluginDescription& target) const
{
    target = description;
}

void IsolatedPluginInstance::prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock)
{
    preparedRate = sampleRate;
    connection->audioThreadMayHaveChanged();
    connection->call(Command::prepare, juce::jlimit(1, maxBlockSamples, maximumExpectedSamplesPerBlock), {}, sampleRate);
    setLatencySamples(connection->latencySamples());
}

void IsolatedPluginInstance::releaseResources()
{
    connection->call(Command::release);
}

void IsolatedPluginInstance::reset()
{
    connection->call(Command::reset);
}

void IsolatedPluginInstance::processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    connection->process(buffer, midi, getPlayHead(), channels, preparedRate.load(std::memory_order_relaxed),
                        offlineMode.load(std::memory_order_relaxed));
    midi.clear();
}

int IsolatedPluginInstance::getCurrentProgram()
{
    const auto reply = connection->call(Command::getProgram);
    return reply.ok ? (int) reply.result : 0;
}

void IsolatedPluginInstance::setCurrentProgram(int index)
{
    connection->call(Command::setProgram, index);
}

const juce::String IsolatedPluginInstance::getProgramName(int index)
{
    const auto reply = connection->call(Command::getProgramName, index);
    return reply.ok ? reply.text : juce::String();
}

void IsolatedPluginInstance::getStateInformation(juce::MemoryBlock& destination)
{
    juce::MemoryBlock state;
    if (connection->readState(state))
        destination.append(state.getData(), state.getSize());
}

void IsolatedPluginInstance::setStateInformation(const void* data, int sizeInBytes)
{
    if (data != nullptr && sizeInBytes > 0)
        connection->writeState(data, (std::size_t) sizeInBytes);
}
} // namespace pendulum::isolation
