#include "isolation/SlotConnection.h"

#include "isolation/TimeRecordCodec.h"
#include "platform/HelperProcess.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace pendulum::isolation
{
namespace
{
using Clock = std::chrono::steady_clock;

// The longest single sleep of a waiting thread: it looks at the helper's end in between too.
constexpr std::int64_t waitSliceNanos = 2'000'000;
// Spinning before sleeping saves the wake-up when the helper answers within microseconds. A block
// whose answer did not come within the spin is followed by blocks that spin only briefly: a plugin
// that takes hundreds of microseconds per block would have the audio thread spin for nothing, as
// CPU time of its own, at every block. An answer that comes within the short spin brings the long
// one back.
constexpr int spinChecks = SlotConnection::longSpinChecks;
constexpr int shortSpinChecks = 50;

bool isNoteOff(const std::uint8_t* bytes, int size) noexcept
{
    if (size < 3)
        return false;
    const auto status = bytes[0] & 0xf0;
    return status == 0x80 || (status == 0x90 && bytes[2] == 0)
        || (status == 0xb0 && (bytes[1] == 64 || bytes[1] == 66 || bytes[1] == 67 || bytes[1] >= 120)
            && (bytes[1] >= 120 || bytes[2] < 64));
}

juce::String describeExit(const std::string& description)
{
    if (description == "exited with code " + std::to_string(exitCodePluginThrew))
        return "threw an exception";
    if (description.rfind("aborted", 0) == 0)
        return "aborted";
    return juce::String(description);
}
} // namespace

SlotConnection::~SlotConnection()
{
    close();
}

juce::File SlotConnection::findHelper()
{
    if (const auto* override = std::getenv("PENDULUM_SLOT_HOST"); override != nullptr && *override != 0)
        return juce::File(juce::String::fromUTF8(override));
    return juce::File(juce::String::fromUTF8(platform::folderOfThisBinary().c_str()) + platform::helperExecutableName());
}

std::unique_ptr<SlotConnection> SlotConnection::start(const juce::String& helperPath, const juce::String& pluginFile,
                                                      std::function<void()> onFailure, juce::String* error)
{
    const auto setError = [error](const juce::String& text) {
        if (error != nullptr)
            *error = text;
    };

    if (!juce::File(helperPath).existsAsFile())
    {
        setError("the helper " + helperPath + " is missing");
        return nullptr;
    }

    std::unique_ptr<SlotConnection> connection(new SlotConnection());
    connection->region = platform::SharedRegion::create(sharedRegionBytes, signalledWords());
    if (connection->region == nullptr)
    {
        setError("no shared memory for the helper");
        return nullptr;
    }
    connection->shared = new (connection->region->data()) SlotShared();
    connection->shared->magic = protocolMagic;
    connection->shared->version = protocolVersion;
    connection->onFailure = std::move(onFailure);

    auto* raw = connection.get();
    std::string reason;
    connection->child = platform::ChildProcess::start(
        helperPath.toStdString(),
        { connection->region->token(), std::to_string(platform::currentProcessId()), pluginFile.toStdString() },
        *connection->region, [raw](const std::string& how) { raw->onHelperExit(how); }, &reason);

    if (connection->child == nullptr)
    {
        setError("the helper could not start: " + juce::String(reason));
        return nullptr;
    }

    // Ready once both of its channels are served.
    const auto deadline = Clock::now() + std::chrono::milliseconds(loadTimeoutMs);
    while (connection->shared->helperReady.load(std::memory_order_acquire) == 0)
    {
        if (connection->child->hasExited() || Clock::now() > deadline)
        {
            const auto how = connection->child->hasExited() ? describeExit(connection->child->exitDescription())
                                                            : juce::String("no answer");
            connection->closing = true;
            setError("the helper did not start (" + how + ")");
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return connection;
}

void SlotConnection::close()
{
    if (child == nullptr || closing.exchange(true))
        return;

    if (!child->hasExited() && !failed())
    {
        const std::lock_guard<std::mutex> lock(commandLock);
        shared->command = Command::quit;
        shared->payloadSize = 0;
        const auto request = shared->commandRequest.fetch_add(1, std::memory_order_acq_rel) + 1;
        region->wakeWaiters(shared->commandRequest);
        awaitAnswer(shared->commandAnswer, request, Clock::now() + std::chrono::milliseconds(1000));
        // It ends by itself once its loop has stopped; give it a moment before killing it.
        const auto deadline = Clock::now() + std::chrono::milliseconds(500);
        while (!child->hasExited() && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    child.reset(); // kills what is left and reaps it
}

void SlotConnection::fail(Failure kind) noexcept
{
    auto expected = Failure::none;
    if (!failure.compare_exchange_strong(expected, kind, std::memory_order_acq_rel))
        return;
    // The helper can no longer be trusted with anything: it goes. Its end reports the failure.
    if (child != nullptr)
        child->kill();
    region->wakeWaiters(shared->blockAnswer);
    region->wakeWaiters(shared->commandAnswer);
}

void SlotConnection::failUnanswered(int timeoutMs) noexcept
{
    // Unless the helper died meanwhile: then its end is the cause. Its watcher may still be
    // putting that into words; a command (never the audio thread) waits for it a moment, so that
    // the caller finds the connection failed, with its cause, as soon as the command returns.
    if (child != nullptr && child->hasExited())
    {
        const auto until = Clock::now() + std::chrono::seconds(1);
        while (!endSeen.load(std::memory_order_acquire) && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        fail(Failure::died);
        return;
    }
    unansweredAfterMs.store(timeoutMs);
    fail(Failure::unanswered);
}

void SlotConnection::onHelperExit(const std::string& how)
{
    if (closing.load())
        return;

    {
        const std::lock_guard<std::mutex> lock(causeLock);
        // A helper that was given up on but had ended by itself before it was killed (its end
        // only took long to show) is described by how it ended.
        const bool endedByItself = how.rfind("killed", 0) != 0;
        switch (endedByItself ? Failure::died : failure.load())
        {
        case Failure::hung:
            cause = "no answer for " + juce::String(hangLimitMs.load()) + " ms";
            break;
        case Failure::unanswered:
            cause = "no answer for " + juce::String(unansweredAfterMs.load()) + " ms";
            break;
        case Failure::none:
        case Failure::died:
            cause = describeExit(how);
            break;
        }
    }
    auto expected = Failure::none;
    failure.compare_exchange_strong(expected, Failure::died, std::memory_order_acq_rel);
    endSeen.store(true, std::memory_order_release);
    region->wakeWaiters(shared->blockAnswer);
    region->wakeWaiters(shared->commandAnswer);

    const std::lock_guard<std::mutex> lock(handlerLock);
    if (onFailure && !failureReported.exchange(true))
        onFailure();
}

void SlotConnection::setFailureHandler(std::function<void()> handler)
{
    const std::lock_guard<std::mutex> lock(handlerLock);
    onFailure = std::move(handler);
    // The helper may have ended before anyone listened: its end is reported now.
    if (onFailure && child != nullptr && child->hasExited() && !closing.load() && !failureReported.exchange(true))
        onFailure();
}

juce::String SlotConnection::failureCause() const
{
    const std::lock_guard<std::mutex> lock(causeLock);
    if (cause.isEmpty() && failed())
        return failure.load() == Failure::hung ? "no answer for " + juce::String(hangLimitMs.load()) + " ms"
                                               : juce::String("ended");
    return cause;
}

bool SlotConnection::awaitAnswer(std::atomic<std::uint32_t>& answer, std::uint32_t expected, Clock::time_point deadline,
                                 int spins, bool* answeredInSpin) noexcept
{
    for (int spin = 0; spin < spins; ++spin)
        if (answer.load(std::memory_order_acquire) == expected)
        {
            if (answeredInSpin != nullptr)
                *answeredInSpin = true;
            return true;
        }
    if (answeredInSpin != nullptr)
        *answeredInSpin = false;

    for (;;)
    {
        const auto seen = answer.load(std::memory_order_acquire);
        if (seen == expected)
            return true;
        if (failed() || (child != nullptr && child->hasExited()))
            return false;
        const auto now = Clock::now();
        if (now >= deadline)
            return false;
        const auto remaining = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now).count();
        region->waitWhileEquals(answer, seen, juce::jmin<std::int64_t>(remaining, waitSliceNanos));
    }
}

bool SlotConnection::sendCommand(int timeoutMs)
{
    const auto request = shared->commandRequest.fetch_add(1, std::memory_order_acq_rel) + 1;
    region->wakeWaiters(shared->commandRequest);
    if (awaitAnswer(shared->commandAnswer, request, Clock::now() + std::chrono::milliseconds(timeoutMs)))
        return true;
    failUnanswered(timeoutMs);
    return false;
}

SlotConnection::Reply SlotConnection::call(Command command, int index, const juce::String& text, double doubleValue,
                                           int timeoutMs, std::int64_t value)
{
    Reply reply;
    const std::lock_guard<std::mutex> lock(commandLock);
    if (failed() || closing.load())
        return reply;

    shared->command = command;
    shared->index = index;
    shared->value = value;
    shared->doubleValue = doubleValue;
    shared->offset = 0;
    shared->total = 0;
    const auto* utf8 = text.toRawUTF8();
    const auto length = juce::jmin(std::strlen(utf8), commandPayloadBytes);
    std::memcpy(shared->payload, utf8, length);
    shared->payloadSize = length;

    if (!sendCommand(timeoutMs))
        return reply;

    reply.ok = shared->answer == Answer::ok;
    reply.result = shared->result;
    reply.text = juce::String::fromUTF8(shared->payload, (int) juce::jmin<std::uint64_t>(shared->payloadSize, commandPayloadBytes));
    return reply;
}

SlotConnection::Reply SlotConnection::dispatch(int opcode, int index, std::int64_t value, float opt)
{
    Reply reply;
    const std::lock_guard<std::mutex> lock(commandLock);
    if (failed() || closing.load())
        return reply;

    shared->command = Command::dispatch;
    shared->index = opcode;
    shared->intArgument = index;
    shared->value = value;
    shared->floatValue = opt;
    shared->payloadSize = 0;

    if (!sendCommand(defaultCommandTimeoutMs))
        return reply;
    reply.ok = shared->answer == Answer::ok;
    reply.result = shared->result;
    return reply;
}

bool SlotConnection::readState(juce::MemoryBlock& destination)
{
    const std::lock_guard<std::mutex> lock(commandLock);
    if (failed() || closing.load())
        return false;

    std::uint64_t offset = 0;
    for (;;)
    {
        shared->command = Command::getState;
        shared->offset = offset;
        shared->payloadSize = 0;
        if (!sendCommand(defaultCommandTimeoutMs))
            return false;
        if (shared->answer != Answer::ok)
            return false;
        const auto total = shared->total;
        const auto piece = std::min({ (std::uint64_t) shared->payloadSize, (std::uint64_t) commandPayloadBytes, total - std::min(offset, total) });
        if (offset == 0)
            destination.setSize((size_t) total);
        destination.copyFrom(shared->payload, (int) offset, (size_t) piece);
        offset += piece;
        if (offset >= total || piece == 0)
            return offset == total;
    }
}

bool SlotConnection::writeState(const void* data, std::size_t size)
{
    const std::lock_guard<std::mutex> lock(commandLock);
    if (failed() || closing.load())
        return false;

    std::uint64_t offset = 0;
    do
    {
        const auto piece = juce::jmin<std::uint64_t>(size - offset, commandPayloadBytes);
        shared->command = Command::setState;
        shared->offset = offset;
        shared->total = size;
        std::memcpy(shared->payload, static_cast<const char*>(data) + offset, (size_t) piece);
        shared->payloadSize = piece;
        if (!sendCommand(loadTimeoutMs))
            return false;
        if (shared->answer != Answer::ok)
            return false;
        offset += piece;
    } while (offset < size);
    return true;
}

void SlotConnection::queueParameter(int index, float value) noexcept
{
    if (index < 0 || index >= maxCachedParameters || shared == nullptr)
        return;
    shared->parameterValue[index].store(value, std::memory_order_relaxed);
    shared->parameterCache[index].store(value, std::memory_order_relaxed);
    shared->parameterDirty[index / 32].fetch_or(1u << (index % 32), std::memory_order_release);
}

float SlotConnection::cachedParameter(int index) const noexcept
{
    if (index < 0 || index >= maxCachedParameters || shared == nullptr)
        return 0.0f;
    return shared->parameterCache[index].load(std::memory_order_relaxed);
}

int SlotConnection::latencySamples() const noexcept
{
    return shared != nullptr ? shared->latencySamples.load() : 0;
}

std::uint32_t SlotConnection::displayUpdates() const noexcept
{
    return shared != nullptr ? shared->displayUpdates.load(std::memory_order_acquire) : 0;
}

bool SlotConnection::editorOpen() const noexcept
{
    // A helper that failed took its window with it, or is about to be killed with it.
    return shared != nullptr && !failed() && shared->editorOpen.load(std::memory_order_acquire) != 0;
}

std::int64_t SlotConnection::editorWindow() const noexcept
{
    return shared != nullptr && !failed() ? shared->editorWindow.load(std::memory_order_acquire) : 0;
}

std::uint32_t SlotConnection::editorChanges() const noexcept
{
    return shared != nullptr ? shared->editorChanges.load(std::memory_order_acquire) : 0;
}

int SlotConnection::processId() const noexcept
{
    return child != nullptr ? child->processId() : 0;
}

void SlotConnection::keepNoteOffs(const juce::MidiBuffer& midi) noexcept
{
    for (const auto metadata : midi)
    {
        if (numKeptNoteOffs >= keptNoteOffCapacity)
            return;
        if (!isNoteOff(metadata.data, metadata.numBytes))
            continue;
        auto& kept = keptNoteOffs[numKeptNoteOffs++];
        kept.offset = 0;
        kept.size = 3;
        std::memcpy(kept.bytes, metadata.data, 3);
    }
}

bool SlotConnection::roundTrip(float* const* channels, int numChannels, int startSample, int numSamples,
                               const juce::MidiBuffer& midi, Clock::time_point deadline) noexcept
{
    auto& block = *shared;
    block.numSamples = numSamples;
    block.numChannels = numChannels;

    // Note-offs kept from late blocks go first, then this piece's own events.
    int count = 0;
    for (int i = 0; i < numKeptNoteOffs && count < maxEvents; ++i)
        block.events[count++] = keptNoteOffs[i];
    numKeptNoteOffs = 0;

    for (const auto metadata : midi)
    {
        if (metadata.samplePosition < startSample || metadata.samplePosition >= startSample + numSamples)
            continue;
        if (metadata.numBytes > 3 || metadata.numBytes <= 0 || count >= maxEvents)
            continue;
        auto& event = block.events[count++];
        event.offset = metadata.samplePosition - startSample;
        event.size = (std::uint8_t) metadata.numBytes;
        std::memset(event.bytes, 0, sizeof event.bytes);
        std::memcpy(event.bytes, metadata.data, (size_t) metadata.numBytes);
    }
    block.numEvents = count;

    for (int channel = 0; channel < numChannels; ++channel)
        std::memcpy(block.audio + (size_t) channel * maxBlockSamples, channels[channel] + startSample,
                    sizeof(float) * (size_t) numSamples);

    const auto request = block.blockRequest.fetch_add(1, std::memory_order_acq_rel) + 1;
    region->wakeWaiters(block.blockRequest);

    bool answeredInSpin = false;
    const bool answered = awaitAnswer(block.blockAnswer, request, deadline, blockSpinChecks, &answeredInSpin);
    blockSpinChecks = answeredInSpin ? spinChecks : shortSpinChecks;
    if (!answered)
    {
        if (!failed() && !child->hasExited())
        {
            awaitingLateAnswer = true;
            lateRequest = request;
            lateSince = Clock::now();
        }
        return false;
    }

    for (int channel = 0; channel < numChannels; ++channel)
        std::memcpy(channels[channel] + startSample, block.audio + (size_t) channel * maxBlockSamples,
                    sizeof(float) * (size_t) numSamples);
    return true;
}

bool SlotConnection::askCrashQuery() noexcept
{
    if (failed() || child == nullptr || awaitingLateAnswer)
        return false;
    if (child->hasExited())
    {
        fail(Failure::died);
        return false;
    }

    auto& block = *shared;
    block.numSamples = 0;
    block.numChannels = 0;
    block.numEvents = 0;
    block.crashReported = 0;
    block.askCrashQuery = 1;
    const auto request = block.blockRequest.fetch_add(1, std::memory_order_acq_rel) + 1;
    region->wakeWaiters(block.blockRequest);
    const bool answered =
        awaitAnswer(block.blockAnswer, request, Clock::now() + std::chrono::milliseconds(hangLimitMs.load(std::memory_order_relaxed)));
    block.askCrashQuery = 0;
    if (!answered)
    {
        fail(failed() || child->hasExited() ? Failure::died : Failure::hung);
        return false;
    }
    return block.crashReported == 1;
}

void SlotConnection::writeThreadState() noexcept
{
    // One system call, once after each prepare: the host's audio thread is known from then on.
    if (schedulingStale.load(std::memory_order_acquire) && schedulingStale.exchange(false, std::memory_order_acq_rel))
        audioThreadScheduling = platform::currentThreadScheduling();
    shared->schedulingPolicy = audioThreadScheduling.policy;
    shared->schedulingPriority = audioThreadScheduling.priority;
    shared->schedulingKnown = audioThreadScheduling.known ? 1 : 0;
    shared->fpStatus = platform::floatingPointStatus();
}

void SlotConnection::process(juce::AudioBuffer<float>& buffer, const juce::MidiBuffer& midi, juce::AudioPlayHead* playHead,
                             int numChannels, double sampleRate, bool nonRealtime) noexcept
{
    const auto numSamples = buffer.getNumSamples();
    const auto start = Clock::now();
    const auto hangLimit = std::chrono::milliseconds(hangLimitMs.load(std::memory_order_relaxed));

    const auto silence = [&] {
        buffer.clear();
        late.fetch_add(1, std::memory_order_relaxed);
    };

    if (failed() || child == nullptr)
    {
        buffer.clear();
        return;
    }
    if (child->hasExited())
    {
        fail(Failure::died);
        buffer.clear();
        return;
    }

    const auto blockPeriod = std::chrono::nanoseconds(
        (std::int64_t) (1.0e9 * numSamples / (sampleRate > 0.0 ? sampleRate : 44100.0)));
    const auto deadline = nonRealtime ? start + hangLimit : start + blockPeriod;

    // A block still out: nothing new goes to the helper until it has answered that one.
    if (awaitingLateAnswer)
    {
        const auto hangDeadline = lateSince + hangLimit;
        if (!awaitAnswer(shared->blockAnswer, lateRequest, nonRealtime ? hangDeadline : juce::jmin(deadline, hangDeadline)))
        {
            if (!failed() && Clock::now() >= hangDeadline)
                fail(Failure::hung);
            keepNoteOffs(midi);
            silence();
            return;
        }
        awaitingLateAnswer = false;
    }

    const int channels = juce::jlimit(0, juce::jmin(maxChannels, buffer.getNumChannels()), numChannels);
    auto* const* pointers = buffer.getArrayOfWritePointers();

    for (int offset = 0; offset < numSamples; offset += maxBlockSamples)
    {
        const int length = juce::jmin(maxBlockSamples, numSamples - offset);
        if (offset == 0)
        {
            writeTimeRecord(shared->time, playHead);
            writeThreadState();
        }
        shared->nonRealtime = nonRealtime ? 1 : 0;

        if (!roundTrip(pointers, channels, offset, length, midi, deadline))
        {
            // Late or dead: the rest of the block is silent; the rest of its note-offs are kept.
            for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
                buffer.clear(channel, offset, numSamples - offset);
            if (failed() || child->hasExited())
            {
                fail(Failure::died);
                buffer.clear();
                return;
            }
            if (nonRealtime)
            {
                // Offline, the hang limit has passed already: the helper hangs.
                fail(Failure::hung);
                buffer.clear();
                return;
            }
            keepNoteOffs(midi);
            late.fetch_add(1, std::memory_order_relaxed);
            return;
        }
    }

    for (int channel = channels; channel < buffer.getNumChannels(); ++channel)
        buffer.clear(channel, 0, numSamples);
}
} // namespace pendulum::isolation
