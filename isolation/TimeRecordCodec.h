#pragma once

// The host's transport for one block, carried between a container and its helper: written from a
// play head's position on one side, read back as a position on the other. Real-time safe.
#include <juce_audio_processors/juce_audio_processors.h>

#include "isolation/SlotProtocol.h"

namespace pendulum::isolation
{
inline void writeTimeRecord(TimeRecord& record, juce::AudioPlayHead* playHead) noexcept
{
    record = {};
    if (playHead == nullptr)
        return;
    const auto position = playHead->getPosition();
    if (!position.hasValue())
        return;

    std::uint32_t present = TimeRecord::hasPosition;
    if (const auto samples = position->getTimeInSamples())
    {
        present |= TimeRecord::hasSamples;
        record.timeInSamples = *samples;
    }
    if (const auto ppq = position->getPpqPosition())
    {
        present |= TimeRecord::hasPpq;
        record.ppqPosition = *ppq;
    }
    if (const auto bar = position->getPpqPositionOfLastBarStart())
    {
        present |= TimeRecord::hasBarStart;
        record.ppqLastBarStart = *bar;
    }
    if (const auto bpm = position->getBpm())
    {
        present |= TimeRecord::hasBpm;
        record.bpm = *bpm;
    }
    if (const auto signature = position->getTimeSignature())
    {
        present |= TimeRecord::hasSignature;
        record.timeSigNumerator = signature->numerator;
        record.timeSigDenominator = signature->denominator;
    }
    if (const auto loop = position->getLoopPoints())
    {
        present |= TimeRecord::hasLoop;
        record.loopStart = loop->ppqStart;
        record.loopEnd = loop->ppqEnd;
    }
    if (const auto rate = position->getFrameRate())
    {
        present |= TimeRecord::hasFrameRate;
        record.frameRateBase = rate->getBaseRate();
        record.frameRateFlags = (rate->isPullDown() ? 1u : 0u) | (rate->isDrop() ? 2u : 0u);
    }
    if (position->getIsPlaying())
        present |= TimeRecord::isPlaying;
    if (position->getIsRecording())
        present |= TimeRecord::isRecording;
    if (position->getIsLooping())
        present |= TimeRecord::isLooping;
    record.present = present;
}

/** A play head that answers with the position carried in a record (the helper's side). */
class RecordPlayHead final : public juce::AudioPlayHead
{
public:
    explicit RecordPlayHead(const TimeRecord& source) : record(source) {}

    juce::Optional<PositionInfo> getPosition() const override
    {
        const auto present = record.present;
        if ((present & TimeRecord::hasPosition) == 0)
            return {};

        PositionInfo info;
        if ((present & TimeRecord::hasSamples) != 0)
            info.setTimeInSamples(record.timeInSamples);
        if ((present & TimeRecord::hasPpq) != 0)
            info.setPpqPosition(record.ppqPosition);
        if ((present & TimeRecord::hasBarStart) != 0)
            info.setPpqPositionOfLastBarStart(record.ppqLastBarStart);
        if ((present & TimeRecord::hasBpm) != 0)
            info.setBpm(record.bpm);
        if ((present & TimeRecord::hasSignature) != 0)
            info.setTimeSignature(TimeSignature { record.timeSigNumerator, record.timeSigDenominator });
        if ((present & TimeRecord::hasLoop) != 0)
            info.setLoopPoints(LoopPoints { record.loopStart, record.loopEnd });
        if ((present & TimeRecord::hasFrameRate) != 0)
            info.setFrameRate(FrameRate()
                                  .withBaseRate(record.frameRateBase)
                                  .withPullDown((record.frameRateFlags & 1u) != 0)
                                  .withDrop((record.frameRateFlags & 2u) != 0));
        info.setIsPlaying((present & TimeRecord::isPlaying) != 0);
        info.setIsRecording((present & TimeRecord::isRecording) != 0);
        info.setIsLooping((present & TimeRecord::isLooping) != 0);
        return info;
    }

private:
    const TimeRecord& record;
};
} // namespace pendulum::isolation
