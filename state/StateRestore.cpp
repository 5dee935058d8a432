// The restore from a state document: setStateInformation rebuilds the container from the document
// the host kept in its project.
#include "console/ConsoleGlobals.h"
#include "container/PluginContainerAudioProcessor.h"
#include "crashwatch/CrashWatchDog.h"
#include "crashwatch/AudioProcessorState.h"
#include "state/MemoryBlockBase64.h"
#include "state/StateDocumentReader.h"
#include "ui/PluginContainerAudioProcessorEditor.h"

namespace
{
/** An element's name up to its first colon (all of it without one). */
juce::String nameBeforeColon(const DocumentElement& element)
{
    return element.name.upToFirstOccurrenceOf(":", false, false);
}

/** The attribute at a position, as text; empty when there is none. */
juce::String attributeAt(const DocumentElement& element, int position)
{
    return position < (int) element.attributes.size() ? element.attributes[(size_t) position].text() : juce::String();
}

bool isValidSlot(int slot)
{
    return slot == 0 || slot == 1;
}

/** The bytes of the document's text: the block up to its first zero byte. */
size_t documentLength(const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 0)
        return 0;

    const auto* bytes = static_cast<const char*>(data);
    const auto* end = static_cast<const char*>(std::memchr(bytes, 0, (size_t) sizeInBytes));
    return end != nullptr ? (size_t) (end - bytes) : (size_t) sizeInBytes;
}
} // namespace

bool PluginContainerAudioProcessor::isRestorePending() const
{
    const juce::ScopedLock lock(pendingStateLock);
    return restorePending;
}

juce::uint32 PluginContainerAudioProcessor::holdPendingDocument(const void* data, int sizeInBytes, bool copy)
{
    auto document = std::make_shared<PendingDocument>();
    const auto size = data != nullptr && sizeInBytes > 0 ? (size_t) sizeInBytes : 0;

    if (copy && size > 0)
    {
        document->copy.replaceAll(data, size);
        document->data = document->copy.getData();
    }
    else
    {
        document->data = data;
    }
    document->size = size;

    const juce::ScopedLock lock(pendingStateLock);
    pendingState = std::move(document);
    restorePending = true;
    return ++pendingGeneration;
}

void PluginContainerAudioProcessor::setStateInformation(const void* data, int sizeInBytes)
{
    // Until the restore has finished, the document is the container's state: a save meanwhile
    // (from another thread, or from a dialog's nested loop during the restore's loads) gives the
    // host this document back as it came, never the new main element with the old slots.
    auto* messageManager = juce::MessageManager::getInstanceWithoutCreating();

    if (messageManager == nullptr || messageManager->isThisTheMessageThread())
    {
        // Restored now, inside this call, the document needs no copy of its own; one that has to
        // wait for the container (a reload in progress, a plugin's own call) is copied.
        const bool now = !isBusy() && !pluginCallInProgress();
        runPendingRestore(holdPendingDocument(data, sizeInBytes, !now));
        return;
    }

    const auto generation = holdPendingDocument(data, sizeInBytes, true);

    // Off the message thread: loading plugins (and perhaps asking the user for a file) belongs on
    // the message thread, and waiting for it here could deadlock a host that waits for this thread
    // there. The document is restored there; getStateInformation returns it meanwhile.
    juce::MessageManager::callAsync([self = weakThis, generation] {
        if (auto* container = self.get())
            container->runPendingRestore(generation);
    });
}

void PluginContainerAudioProcessor::runPendingRestore(juce::uint32 generation)
{
    std::shared_ptr<const PendingDocument> document;
    {
        const juce::ScopedLock lock(pendingStateLock);

        if (!restorePending || generation != pendingGeneration)
            return; // superseded by a later document

        document = pendingState;
    }

    // A restore replaces the slots: not in the middle of a reload or another restore (their
    // dialogs' nested loops run posted work), and not while a plugin has a call of ours on its
    // stack. It runs as soon as they are done; the document stays the state until then.
    if (isBusy() || pluginCallInProgress())
    {
        // A document that refers to the host's bytes must not outlive the host's call.
        if (document->size > 0 && document->data != document->copy.getData())
        {
            auto owned = std::make_shared<PendingDocument>();
            owned->copy.replaceAll(document->data, document->size);
            owned->data = owned->copy.getData();
            owned->size = document->size;

            const juce::ScopedLock lock(pendingStateLock);
            if (generation == pendingGeneration)
                pendingState = std::move(owned);
        }

        deferUntilPluginsFree("restoring the state document", [generation](PluginContainerAudioProcessor& c) {
            if (c.isBusy())
            {
                // Still busy (the deferred work runs from the same loops): try again shortly.
                juce::Timer::callAfterDelay(40, [self = c.weakThis, generation] {
                    if (auto* container = self.get())
                        container->runPendingRestore(generation);
                });
                return;
            }
            c.runPendingRestore(generation);
        });
        return;
    }

    const juce::WeakReference<PluginContainerAudioProcessor> self(this);
    {
        const OperationScope operation(*this);
        restoreFromDocument(static_cast<const char*>(document->data), documentLength(document->data, (int) document->size));
    }

    if (self == nullptr)
        return;

    const juce::ScopedLock lock(pendingStateLock);
    if (generation == pendingGeneration)
    {
        restorePending = false;
        pendingState.reset();
    }
}

void PluginContainerAudioProcessor::restoreFromDocument(const char* text, size_t length)
{
    const juce::WeakReference<PluginContainerAudioProcessor> self(this);
    const auto name = getInstanceName();

    consolePrint(name + ":setStateInformation");
    consolePrint(name + ":bytes: " + juce::String((juce::int64) length));

    const auto root = readStateDocument(text, length);

    if (!root.has_value())
    {
        // A truncated or foreign block: the container stays exactly as it is.
        consolePrint(name + ":the state document could not be read; nothing was restored");
        logSessionEvent("the project's state could not be read; nothing was restored");
        return;
    }

    consolePrint(name + ":Analyzing " + juce::String((int) root->children.size()) + " child elements.");

    std::array<bool, numSlots> slotsToUnload { true, true };

    // The latency is aligned once, with every slot restored.
    const LatencyHold latencyHold(*this);

    for (const auto& child : root->children)
    {
        const auto kind = nameBeforeColon(child);
        consolePrint(getInstanceName() + ":sub_element->getNamespace(): " + kind);
        consolePrint("NumAttributes(): " + juce::String((int) child.attributes.size()));

        if (kind == "main_plugin")
            applyMainPluginElement(child);
        else if (kind == "plugin")
            restorePluginElement(child, slotsToUnload);

        // A load may have asked the user, and the host may have closed the container meanwhile.
        if (self == nullptr)
            return;
    }

    consolePrint(getInstanceName() + ":active_plugin index: " + juce::String(activePluginIndex.load()));

    auto* editor = dynamic_cast<PluginContainerAudioProcessorEditor*>(getActiveEditor());

    for (int slot = 0; slot < numSlots; ++slot)
        if (slotsToUnload[(size_t) slot] && (pluginLoaders[(size_t) slot] != nullptr || isPluginMissing(slot)))
            unloadSlot(slot, false, false);

    juce::StringArray slots;
    for (int slot = 0; slot < numSlots; ++slot)
        slots.add("slot " + slotNumber(slot) + " "
                  + (getPluginInstance(slot) != nullptr ? getLoadedPluginName(slot)
                                                        : isPluginMissing(slot) ? juce::String("missing") : juce::String("empty")));
    logSessionEvent("project restored: " + slots.joinIntoString(", ") + "; playing slot "
                    + slotNumber(activePluginIndex.load()));

    if (editor != nullptr)
        editor->refreshPanel();
}

void PluginContainerAudioProcessor::applyMainPluginElement(const DocumentElement& element)
{
    const auto attribute = [&](int position) { return attributeAt(element, position); };
    const auto numAttributes = (int) element.attributes.size();

    // Positions 0 to 4 are always read; a missing one reads as 0. A slot number the container
    // does not have is ignored.
    const auto active = attribute(0).getIntValue();
    if (isValidSlot(active))
        setActiveIndex(active);

    for (int option = 0; option < numOptions; ++option)
        setOption(option, attribute(option + 1).getIntValue() != 0);

    if (numAttributes >= 6)
        setInstanceName(attribute(5));

    // Attributes added later are read by name; a document without them keeps the defaults.
    bool separate = false;
    for (const auto& named : element.attributes)
        if (named.name == "separateProcesses")
            separate = named.text().getIntValue() != 0;
    setRunInSeparateProcesses(separate);
    // Found by name, wherever they are; a document without them has the hot standby off and the
    // watchdog's default period.
    bool hotStandby = false;
    int watchPeriod = CrashWatchDog::periodMs;
    for (const auto& attribute : element.attributes)
    {
        if (attribute.name == "hotStandby")
            hotStandby = attribute.text().getIntValue() != 0;
        else if (attribute.name == "watchPeriodMs")
            watchPeriod = attribute.text().getIntValue();
    }
    setHotStandby(hotStandby);
    setWatchPeriodMs(watchPeriod);
    // Likewise: a document without it has the output health check off.
    bool outputHealth = false;
    for (const auto& attribute : element.attributes)
        if (attribute.name == "outputHealth")
            outputHealth = attribute.text().getIntValue() != 0;
    setOutputHealthCheck(outputHealth);

    if (debugConsole != nullptr && numAttributes >= 11 && !consoleBoundsRestored)
    {
        debugConsole->setTitle(attribute(6));

        const int x = attribute(7).getIntValue(), y = attribute(8).getIntValue(), w = attribute(9).getIntValue(),
                  h = attribute(10).getIntValue();

        if (x != -1 && y != -1 && w != -1 && h != -1)
        {
            debugConsole->setBounds(x, y, w, h, true);
            consoleBoundsRestored = true;
        }
    }
}

std::shared_ptr<AudioProcessorState> PluginContainerAudioProcessor::snapshotFromElement(const DocumentElement& element)
{
    auto snapshot = std::make_shared<AudioProcessorState>();
    juce::String filePath, pluginName;
    int declaredSize = 0;

    consolePrint(nameBeforeColon(element) + " : ");

    for (const auto& attribute : element.attributes)
    {
        const auto& attributeName = attribute.name;

        if (attributeName == "binData")
        {
            const auto bytes = attribute.numBytes();
            consolePrint("binData, av size: " + juce::String((juce::int64) bytes) + ", data_size: "
                         + juce::String(declaredSize));

            if (bytes < 1)
                consolePrint("data_size == 0");
            else
                memory_block_base64::decode(attribute.bytes(), bytes, snapshot->stateData);

            continue;
        }

        const auto value = attribute.text();

        if (attributeName == "filePath")
            filePath = value;
        else if (attributeName == "binDataSize")
            declaredSize = value.getIntValue();
        else if (attributeName == "currentProgram")
            snapshot->programIndex = value.getIntValue();
        else if (attributeName == "loadedPluginName")
            pluginName = value;
        else if (attributeName == "name")
            snapshot->displayName = value;
        else if (attributeName == "numInputs")
            snapshot->numInputs = value.getIntValue();
        else if (attributeName == "numOutputs")
            snapshot->numOutputs = value.getIntValue();

        consolePrint(attributeName + " : " + value);
    }

    snapshot->setSource(filePath, pluginName);

    if (const auto* parameters = element.firstChildNamed("f_parameters"))
        for (int i = 0; i < (int) parameters->attributes.size(); ++i)
            snapshot->parameterValues.add((float) attributeAt(*parameters, i).getDoubleValue());

    return snapshot;
}

void PluginContainerAudioProcessor::restorePluginElement(const DocumentElement& element,
                                                         std::array<bool, 2>& slotsToUnload)
{
    const auto snapshot = snapshotFromElement(element);
    const auto* parameters = element.firstChildNamed("f_parameters");

    int targetSlot = -1, declaredSize = 0;
    for (const auto& attribute : element.attributes)
    {
        if (attribute.name == "index")
            targetSlot = attribute.text().getIntValue();
        else if (attribute.name == "binDataSize")
            declaredSize = attribute.text().getIntValue();
    }

    const auto name = getInstanceName();
    consolePrint(name + ":path: " + snapshot->filePath);
    consolePrint(name + ":loadedPluginName: " + snapshot->pluginName);
    consolePrint(name + ":target_index: " + juce::String(targetSlot));
    consolePrint(name + ":data_size: " + juce::String(declaredSize));
    consolePrint(name + ":data_size ( mem block ): " + juce::String((juce::int64) snapshot->stateData.getSize()));

    // No slot named, or one the container does not have: nothing is loaded and no slot is kept.
    if (!isValidSlot(targetSlot))
        return;

    slotsToUnload[(size_t) targetSlot] = false;
    unloadSlot(targetSlot, false, false);

    consolePrint("loading in index: " + juce::String(targetSlot) + " " + snapshot->filePath + " " + snapshot->pluginName);

    const juce::WeakReference<PluginContainerAudioProcessor> self(this);

    // The program, state block and parameters go to the new plugin before the slot shows it to
    // the audio thread.
    const bool loaded = loadPluginWith(
        targetSlot, snapshot->filePath, snapshot->pluginName,
        [&](juce::AudioPluginInstance& instance) {
            if (snapshot->programIndex != -1)
                consolePrint("Setting currentProgram to index " + juce::String(snapshot->programIndex));

            if (parameters != nullptr)
                consolePrint(name + ": Setting parameters( " + juce::String((int) parameters->attributes.size()) + ")");
            else
                consolePrint("parameter_sub_sub_element == NULL");

            snapshot->applyTo(instance);
        },
        true, nullptr);

    if (self == nullptr)
        return;

    if (!loaded)
    {
        // The slot keeps the document's plugin for the project (file, name, state) and shows it as
        // missing: a save on a machine without the plugin must not delete it from the project.
        if (snapshot->filePath.isNotEmpty())
        {
            const juce::ScopedLock lock(slotLock);
            forgetSnapshots(targetSlot);
            recoveryStates[(size_t) targetSlot] = snapshot;
            setMissing(targetSlot, true, "the plugin could not be loaded: " + snapshot->filePath);
            consolePrint(name + ":keeping index " + juce::String(targetSlot) + " for the project; plugin missing");
        }

        if (snapshot->filePath.isNotEmpty())
            recordEvent("slot " + slotNumber(targetSlot) + ": " + getMissingReason(targetSlot));
        else
        {
            slotsToUnload[(size_t) targetSlot] = true;
        }
        return;
    }

    // The project's state starts the slot's snapshots and its crash count afresh.
    const juce::ScopedLock lock(slotLock);
    forgetSnapshots(targetSlot);
    captureRecoveryState(targetSlot);
}
