#include "SpeakerArrangementRecord.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <new>

namespace pendulum::rawhost
{

namespace
{
struct Layout
{
    int channels;
    Vst2::VstInt32 type;
    Vst2::VstInt32 speakers[8];
    const char* names[8];
};

constexpr Layout kLayouts[] = {
    {0, Vst2::kSpeakerArrEmpty, {}, {}},
    {1, Vst2::kSpeakerArrMono, {Vst2::kSpeakerM}, {"M"}},
    {2, Vst2::kSpeakerArrStereo, {Vst2::kSpeakerL, Vst2::kSpeakerR}, {"L", "R"}},
    {6,
     Vst2::kSpeakerArr51,
     {Vst2::kSpeakerL, Vst2::kSpeakerR, Vst2::kSpeakerC, Vst2::kSpeakerLfe, Vst2::kSpeakerLs, Vst2::kSpeakerRs},
     {"L", "R", "C", "Lfe", "Ls", "Rs"}},
    {8,
     Vst2::kSpeakerArr71Cine,
     {Vst2::kSpeakerL, Vst2::kSpeakerR, Vst2::kSpeakerC, Vst2::kSpeakerLfe, Vst2::kSpeakerLs, Vst2::kSpeakerRs,
      Vst2::kSpeakerLc, Vst2::kSpeakerRc},
     {"L", "R", "C", "Lfe", "Ls", "Rs", "Lc", "Rc"}},
};

const Layout* findLayout(int channels)
{
    for (const auto& layout : kLayouts)
        if (layout.channels == channels)
            return &layout;
    return nullptr;
}
} // namespace

void SpeakerArrangementRecord::build(int numChannels)
{
    const auto channels = static_cast<std::size_t>(std::max(numChannels, 0));
    const std::size_t bytes =
        std::max(sizeof(Vst2::VstSpeakerArrangement),
                 offsetof(Vst2::VstSpeakerArrangement, speakers) + channels * sizeof(Vst2::VstSpeakerProperties));
    storage_.assign((bytes + sizeof(Vst2::VstIntPtr) - 1) / sizeof(Vst2::VstIntPtr), 0);

    auto* record = new (storage_.data()) Vst2::VstSpeakerArrangement{};
    const Layout* layout = findLayout(static_cast<int>(channels));
    record->type = layout != nullptr ? layout->type : Vst2::kSpeakerArrUserDefined;
    record->numChannels = static_cast<Vst2::VstInt32>(channels);

    Vst2::VstSpeakerProperties* speakers = record->speakers;
    for (std::size_t i = 0; i < channels; ++i)
    {
        Vst2::VstSpeakerProperties& speaker = speakers[i];
        if (layout != nullptr)
        {
            speaker.type = layout->speakers[i];
            std::snprintf(speaker.name, sizeof(speaker.name), "%s", layout->names[i]);
        }
        else
        {
            speaker.type = Vst2::kSpeakerUndefined;
            std::snprintf(speaker.name, sizeof(speaker.name), "%d", static_cast<int>(i + 1));
        }
    }
}

Vst2::VstSpeakerArrangement* SpeakerArrangementRecord::get() noexcept
{
    return storage_.empty() ? nullptr : reinterpret_cast<Vst2::VstSpeakerArrangement*>(storage_.data());
}

} // namespace pendulum::rawhost
