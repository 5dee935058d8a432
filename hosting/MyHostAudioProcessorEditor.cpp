#include "hosting/MyHostAudioProcessorEditor.h"

#include "hosting/EffectHandle.h"
#include "hosting/HostedEditorWindow.h"

#include <mutex>
#include <set>

namespace
{
std::mutex seatLock;
std::set<int>& takenSeats()
{
    static std::set<int> seats;
    return seats;
}
} // namespace

EditorCascadeSeat::EditorCascadeSeat()
{
    const std::lock_guard<std::mutex> lock(seatLock);
    auto& seats = takenSeats();
    while (seats.count(seat) != 0)
        ++seat;
    seats.insert(seat);
}

EditorCascadeSeat::~EditorCascadeSeat()
{
    const std::lock_guard<std::mutex> lock(seatLock);
    takenSeats().erase(seat);
}

MyHostAudioProcessorEditor::MyHostAudioProcessorEditor() = default;

// The window object's destructor closes the plugin's editor and destroys the native window.
MyHostAudioProcessorEditor::~MyHostAudioProcessorEditor() = default;

void MyHostAudioProcessorEditor::showEditorFor(juce::AudioPluginInstance* instance, const juce::String& title,
                                               void* ownerWindow, int cascadeStep)
{
    if (instance == nullptr)
        return;

    hostedPlugin = instance;

    if (editorWindow == nullptr)
        editorWindow = std::make_unique<eee34ty0w9845rgymsiufdgomiugdfi>();

    editorWindow->setPlacement(ownerWindow, cascadeStep);
    editorWindow->raiseWindow();
    editorWindow->openEditorWindow(vstEffectOf(*instance));
    editorWindow->setWindowTitle(title.toRawUTF8());
}
