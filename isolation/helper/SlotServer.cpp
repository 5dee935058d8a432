#include "isolation/helper/SlotServer.h"

#include "crashwatch/CrashQuery.h"
#include "hosting/DirectVst2Processor.h"
#include "hosting/EffectHandle.h"
#include "hosting/HostedEditorWindow.h"
#include "isolation/TimeRecordCodec.h"
#include "platform/HelperProcess.h"

#include <cstdlib>
#include <cstring>

namespace pendulum::isolation
{
namespace
{
// How long a server thread sleeps on its word before it looks at the stop flag again.
constexpr std::int64_t idleWaitNanos = 100'000'000;
// Parameters read back from the plugin after every block, in turn.
constexpr int parametersRefreshedPerBlock = 32;
} // namespace

SlotServer::SlotServer(SlotShared& region, const platform::SharedRegion& regionSignals, juce::String pluginFile)
    : shared(region), signals(regionSignals), file(std::move(pluginFile))
{
    format = std::make_unique<juce::VSTPluginFormat>();
}

SlotServer::~SlotServer()
{
    stopping = true;
    signals.wakeWaiters(shared.commandRequest);
    signals.wakeWaiters(shared.blockRequest);
    if (commandThread.joinable())
        commandThread.join();
    if (blockThread.joinable())
        blockThread.join();
    // The plugin's editor is closed while the plugin still exists.
    editorWindow.reset();
    if (plugin != nullptr)
        plugin->removeListener(this);
    direct.reset();
    plugin.reset();
}

void SlotServer::start()
{
    commandThread = std::thread([this] { serveCommands(); });
    blockThread = std::thread([this] { serveBlocks(); });
    shared.helperReady.store(1, std::memory_order_release);
}

void SlotServer::serveCommands()
{
    // What was answered last, not what is asked now: a request may come before this thread runs.
    auto seen = shared.commandAnswer.load(std::memory_order_acquire);
    while (!stopping)
    {
        const auto request = shared.commandRequest.load(std::memory_order_acquire);
        if (request == seen)
        {
            signals.waitWhileEquals(shared.commandRequest, seen, idleWaitNanos);
            continue;
        }
        seen = request;

        const bool quitting = shared.command == Command::quit;
        // Plugins expect every call but processing on the message thread.
        juce::MessageManager::getInstance()->callFunctionOnMessageThread(
            [](void* self) -> void* {
                static_cast<SlotServer*>(self)->runCommand();
                return nullptr;
            },
            this);

        shared.commandAnswer.store(request, std::memory_order_release);
        signals.wakeWaiters(shared.commandAnswer);

        if (quitting)
        {
            stopping = true;
            signals.wakeWaiters(shared.blockRequest);
            juce::MessageManager::getInstance()->stopDispatchLoop();
        }
    }
}

void SlotServer::answerText(const juce::String& text)
{
    const auto* utf8 = text.toRawUTF8();
    const auto length = juce::jmin(std::strlen(utf8), commandPayloadBytes);
    std::memcpy(shared.payload, utf8, length);
    shared.payloadSize = length;
}

void SlotServer::runCommand()
{
    applyParameterChanges();

    shared.answer = Answer::ok;
    shared.result = 0;
    const auto command = shared.command;
    const auto incoming = juce::jmin<std::uint64_t>(shared.payloadSize, commandPayloadBytes);
    shared.payloadSize = 0;

    if (command != Command::listPlugins && command != Command::load && command != Command::quit && plugin == nullptr)
    {
        shared.answer = Answer::failed;
        return;
    }

    switch (command)
    {
    case Command::listPlugins:
    {
        descriptions.clear();
        format->findAllTypesForFile(descriptions, file);
        juce::StringArray names;
        for (auto* description : descriptions)
            names.add(description->name);
        answerText(names.joinIntoString("\n"));
        shared.result = descriptions.size();
        break;
    }
    case Command::load:
        shared.answer = load(juce::String::fromUTF8(shared.payload, (int) incoming)) ? Answer::ok : Answer::failed;
        if (shared.answer == Answer::ok)
            answerText(describe());
        break;
    case Command::describe:
        answerText(describe());
        break;
    case Command::prepare:
    {
        const std::lock_guard<std::mutex> lock(processLock);
        processing = false;
        const auto blockSize = juce::jlimit(1, maxBlockSamples, (int) shared.index);
        plugin->setRateAndBufferSizeDetails(shared.doubleValue, blockSize);
        plugin->prepareToPlay(shared.doubleValue, blockSize);
        if (direct != nullptr)
            direct->prepare(shared.doubleValue, blockSize);
        processing = true;
        break;
    }
    case Command::release:
    {
        const std::lock_guard<std::mutex> lock(processLock);
        processing = false;
        plugin->releaseResources();
        break;
    }
    case Command::reset:
    {
        const std::lock_guard<std::mutex> lock(processLock);
        plugin->reset();
        break;
    }
    case Command::getState:
    {
        if (shared.offset == 0)
        {
            stateOut.reset();
            plugin->getStateInformation(stateOut);
        }
        shared.total = stateOut.getSize();
        const auto start = juce::jmin<std::uint64_t>(shared.offset, stateOut.getSize());
        const auto piece = juce::jmin<std::uint64_t>(stateOut.getSize() - start, commandPayloadBytes);
        std::memcpy(shared.payload, static_cast<const char*>(stateOut.getData()) + start, piece);
        shared.payloadSize = piece;
        if (start + piece >= stateOut.getSize())
            stateOut.reset();
        break;
    }
    case Command::setState:
    {
        if (shared.offset == 0)
        {
            stateIn.reset();
            stateIn.ensureSize(shared.total);
        }
        const auto piece = incoming;
        if (shared.offset + piece > shared.total)
        {
            shared.answer = Answer::failed;
            break;
        }
        stateIn.copyFrom(shared.payload, (size_t) shared.offset, (size_t) piece);
        if (shared.offset + piece == shared.total)
        {
            plugin->setStateInformation(stateIn.getData(), (int) shared.total);
            stateIn.reset();
        }
        break;
    }
    case Command::getProgram:
        shared.result = plugin->getCurrentProgram();
        break;
    case Command::setProgram:
        plugin->setCurrentProgram(shared.index);
        break;
    case Command::getProgramName:
        answerText(plugin->getProgramName(shared.index));
        break;
    case Command::getParameterName:
        if (auto* parameter = plugin->getParameters()[shared.index])
            answerText(parameter->getName(1024));
        break;
    case Command::getParameterText:
        if (auto* parameter = plugin->getParameters()[shared.index])
            answerText(parameter->getCurrentValueAsText());
        break;
    case Command::dispatch:
        if (auto* effect = vstEffectOf(*plugin); effect != nullptr && effect->dispatcher != nullptr)
            shared.result = (std::int64_t) effect->dispatcher(effect, shared.index, shared.intArgument,
                                                              (Vst2::VstIntPtr) shared.value, nullptr, shared.floatValue);
        else
            shared.answer = Answer::failed;
        break;
    case Command::openEditor:
        shared.result = openEditor(juce::String::fromUTF8(shared.payload, (int) incoming), shared.value, shared.index) ? 1 : 0;
        break;
    case Command::closeEditor:
        closeEditor();
        break;
    case Command::quit:
        closeEditor();
        break;
    case Command::none:
        break;
    }

    refreshParameterCache(0, maxCachedParameters);
}

bool SlotServer::openEditor(const juce::String& title, std::int64_t ownerWindow, int cascadeStep)
{
    // As the container shows an in-process editor: placed and owned, raised if it is open already
    // (then not opened again), and titled each time.
    if (editorWindow == nullptr)
    {
        editorWindow = std::make_unique<eee34ty0w9845rgymsiufdgomiugdfi>();
        editorWindow->onWindowChanged = [this] { publishEditor(); };
    }

    editorWindow->setPlacement(reinterpret_cast<void*>((std::uintptr_t) ownerWindow), cascadeStep);
    editorWindow->raiseWindow();
    editorWindow->openEditorWindow(vstEffectOf(*plugin));
    editorWindow->setWindowTitle(title.toRawUTF8());
    publishEditor();
    return editorWindow->isEditorOpen();
}

void SlotServer::closeEditor()
{
    if (editorWindow == nullptr)
        return;
    editorWindow.reset(); // closes the plugin's editor, then destroys the window
    publishEditor();
}

void SlotServer::publishEditor() noexcept
{
    const bool open = editorWindow != nullptr && editorWindow->isEditorOpen();
    shared.editorWindow.store(open ? (std::int64_t) reinterpret_cast<std::uintptr_t>(editorWindow->getWindowHandle()) : 0,
                              std::memory_order_relaxed);
    shared.editorWidth.store(open ? editorWindow->getClientWidth() : 0, std::memory_order_relaxed);
    shared.editorHeight.store(open ? editorWindow->getClientHeight() : 0, std::memory_order_relaxed);
    shared.editorOpen.store(open ? 1 : 0, std::memory_order_release);
    shared.editorChanges.fetch_add(1, std::memory_order_acq_rel);
}

bool SlotServer::load(const juce::String& name)
{
    if (plugin != nullptr)
        return false;
    if (descriptions.isEmpty())
        format->findAllTypesForFile(descriptions, file);

    juce::PluginDescription* chosen = nullptr;
    for (auto* description : descriptions)
        if (name.isEmpty() ? descriptions.size() == 1 : description->name == name)
            chosen = description;
    if (chosen == nullptr)
        return false;

    juce::String error;
    plugin = format->createInstanceFromDescription(*chosen, 44100.0, 512, error);
    if (plugin == nullptr)
        return false;

    direct = DirectVst2Processor::create(*plugin);
    plugin->addListener(this);
    shared.latencySamples.store(plugin->getLatencySamples());
    return true;
}

juce::String SlotServer::describe() const
{
    juce::PluginDescription description;
    plugin->fillInPluginDescription(description);
    juce::StringArray lines;
    lines.add("name=" + description.name);
    lines.add("descriptiveName=" + description.descriptiveName);
    lines.add("manufacturer=" + description.manufacturerName);
    lines.add("version=" + description.version);
    lines.add("category=" + description.category);
    lines.add("uid=" + juce::String(description.uniqueId));
    lines.add("instrument=" + juce::String(description.isInstrument ? 1 : 0));
    lines.add("displayName=" + plugin->getName());
    lines.add("inputs=" + juce::String(plugin->getTotalNumInputChannels()));
    lines.add("outputs=" + juce::String(plugin->getTotalNumOutputChannels()));
    lines.add("latency=" + juce::String(plugin->getLatencySamples()));
    lines.add("programs=" + juce::String(plugin->getNumPrograms()));
    lines.add("editor=" + juce::String(plugin->hasEditor() ? 1 : 0));
    for (auto* parameter : plugin->getParameters())
        lines.add("param=" + parameter->getName(1024).replaceCharacters("\r\n", "  "));
    return lines.joinIntoString("\n");
}

void SlotServer::applyParameterChanges() noexcept
{
    if (plugin == nullptr)
        return;
    auto* effect = vstEffectOf(*plugin);
    if (effect == nullptr)
        return;
    for (int word = 0; word < maxCachedParameters / 32; ++word)
    {
        auto bits = shared.parameterDirty[word].exchange(0, std::memory_order_acq_rel);
        while (bits != 0)
        {
            const int bit = __builtin_ctz(bits);
            bits &= bits - 1;
            const int index = word * 32 + bit;
            const auto value = shared.parameterValue[index].load(std::memory_order_relaxed);
            setVstParameterValue(*effect, index, value);
            shared.parameterCache[index].store(vstParameterValue(*effect, index), std::memory_order_relaxed);
        }
    }
}

void SlotServer::refreshParameterCache(int first, int count) noexcept
{
    if (plugin == nullptr)
        return;
    auto* effect = vstEffectOf(*plugin);
    if (effect == nullptr)
        return;
    const int total = juce::jmin((int) effect->numParams, maxCachedParameters);
    for (int i = 0; i < count && i < total; ++i)
    {
        const int index = (first + i) % total;
        shared.parameterCache[index].store(vstParameterValue(*effect, index), std::memory_order_relaxed);
    }
}

void SlotServer::serveBlocks()
{
    blockMidi.ensureSize(maxEvents * 16);
    auto seen = shared.blockAnswer.load(std::memory_order_acquire);
    while (!stopping)
    {
        const auto request = shared.blockRequest.load(std::memory_order_acquire);
        if (request == seen)
        {
            // A short spin first: at small block sizes the next request is often microseconds away.
            bool arrived = false;
            for (int spin = 0; spin < 200 && !arrived; ++spin)
                arrived = shared.blockRequest.load(std::memory_order_acquire) != seen;
            if (!arrived)
                signals.waitWhileEquals(shared.blockRequest, seen, idleWaitNanos);
            continue;
        }
        seen = request;
        processBlock();
        shared.blockAnswer.store(request, std::memory_order_release);
        signals.wakeWaiters(shared.blockAnswer);
    }
}

void SlotServer::processBlock() noexcept
{
    const int numSamples = juce::jlimit(0, maxBlockSamples, (int) shared.numSamples);
    const int numChannels = juce::jlimit(0, maxChannels, (int) shared.numChannels);

    const std::lock_guard<std::mutex> lock(processLock);
    if (shared.askCrashQuery != 0)
    {
        // The crash query on the processing thread, as a host rendering offline asks it.
        auto* effect = plugin != nullptr ? vstEffectOf(*plugin) : nullptr;
        shared.crashReported = effect != nullptr && crash_query::reportsCrash(*effect) ? 1 : 0;
        return;
    }
    if (!processing || plugin == nullptr || numSamples == 0)
    {
        for (int channel = 0; channel < numChannels; ++channel)
            std::memset(shared.audio + (size_t) channel * maxBlockSamples, 0, sizeof(float) * (size_t) numSamples);
        return;
    }

    takeOverThreadState();
    applyParameterChanges();

    float* channels[maxChannels];
    for (int channel = 0; channel < numChannels; ++channel)
        channels[channel] = shared.audio + (size_t) channel * maxBlockSamples;
    blockBuffer.setDataToReferTo(channels, numChannels, numSamples);

    blockMidi.clear();
    const int numEvents = juce::jlimit(0, maxEvents, (int) shared.numEvents);
    for (int i = 0; i < numEvents; ++i)
    {
        const auto& event = shared.events[i];
        if (event.size > 0 && event.size <= 3)
            blockMidi.addEvent(event.bytes, event.size, juce::jlimit(0, numSamples - 1, (int) event.offset));
    }

    RecordPlayHead playHead(shared.time);
    if (direct != nullptr)
    {
        const auto thrownBefore = direct->thrownBlocks();
        direct->process(blockBuffer, blockMidi, &playHead);
        // An exception out of the plugin's process call leaves it in an unknown state: the helper
        // ends, as the process would for an exception nobody catches, and the container says why.
        if (direct->thrownBlocks() != thrownBefore)
            std::_Exit(exitCodePluginThrew);
    }
    else
    {
        plugin->setPlayHead(&playHead);
        plugin->processBlock(blockBuffer, blockMidi);
        plugin->setPlayHead(nullptr);
    }

    refreshParameterCache(refreshCursor, parametersRefreshedPerBlock);
    refreshCursor += parametersRefreshedPerBlock;
    if (refreshCursor >= maxCachedParameters)
        refreshCursor = 0;
}

void SlotServer::takeOverThreadState() noexcept
{
    // The plugin computes as it would on the host's audio thread: with the same handling of
    // denormals, and (where this process may) at the same priority.
    platform::setFloatingPointStatus(shared.fpStatus);

    if (shared.schedulingKnown == 0)
        return;
    const platform::ThreadScheduling wanted { shared.schedulingPolicy, shared.schedulingPriority, true };
    if (schedulingAsked.known && wanted.policy == schedulingAsked.policy && wanted.priority == schedulingAsked.priority)
        return;
    // Asked once per change: a refusal (no right to real time) is not asked again every block.
    schedulingAsked = wanted;
    platform::applyThreadScheduling(wanted);
}

void SlotServer::audioProcessorParameterChanged(juce::AudioProcessor*, int index, float value)
{
    if (index >= 0 && index < maxCachedParameters)
        shared.parameterCache[index].store(value, std::memory_order_relaxed);
}

void SlotServer::audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails&)
{
    if (plugin != nullptr)
        shared.latencySamples.store(plugin->getLatencySamples());
    shared.displayUpdates.fetch_add(1, std::memory_order_release);
}
} // namespace pendulum::isolation
