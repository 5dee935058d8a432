#include "hosting/HostedEditorWindow.h"
#include "hosting/PluginCallTracker.h"

#include "hosting/EditorWindowOutput.h"
#include "platform/EditorPlacement.h"

namespace platform = pendulum::platform;

namespace
{
// Used when the plugin gives no editor rectangle, before or after opening.
constexpr Vst2::ERect fallbackEditorRect { 0, 0, 600, 800 };

bool allZero(const Vst2::ERect& rect) noexcept
{
    return rect.top == 0 && rect.left == 0 && rect.bottom == 0 && rect.right == 0;
}
} // namespace

eee34ty0w9845rgymsiufdgomiugdfi::~eee34ty0w9845rgymsiufdgomiugdfi()
{
    beingDeleted = true;
    // Called on this class whatever a derived one would do: its part is gone by now.
    eee34ty0w9845rgymsiufdgomiugdfi::closeEditorWindow();
}

Vst2::VstIntPtr eee34ty0w9845rgymsiufdgomiugdfi::dispatchEditorOpcode(Vst2::VstInt32 opcode, void* ptr)
{
    if (effect == nullptr || effect->dispatcher == nullptr)
        return 0;

    // The plugin may run a loop of its own in here (a dialog, its request for host idle): while it
    // does, nothing may destroy it.
    const plugin_calls::Scope call(effect);
    return effect->dispatcher(effect, opcode, 0, 0, ptr, 0.0f);
}

void eee34ty0w9845rgymsiufdgomiugdfi::closeRequestedCallback(void* owner)
{
    static_cast<eee34ty0w9845rgymsiufdgomiugdfi*>(owner)->handleCloseRequest();
}

void eee34ty0w9845rgymsiufdgomiugdfi::timerCallback(void* owner)
{
    static_cast<eee34ty0w9845rgymsiufdgomiugdfi*>(owner)->idlePluginEditor();
}

void eee34ty0w9845rgymsiufdgomiugdfi::viewResizedCallback(void* owner, int width, int height)
{
    static_cast<eee34ty0w9845rgymsiufdgomiugdfi*>(owner)->handleViewResized(width, height);
}

void eee34ty0w9845rgymsiufdgomiugdfi::createNativeWindow()
{
    platform::EditorWindowEvents events;
    events.owner = this;
    events.closeRequested = &closeRequestedCallback;
    events.timer = &timerCallback;
    events.viewResized = &viewResizedCallback;
    windowHandle = platform::createEditorWindow(dialogTemplate, events);

    if (windowHandle != nullptr)
        platform::setEditorWindowOwner(windowHandle, ownerWindow);
}

void eee34ty0w9845rgymsiufdgomiugdfi::setPlacement(platform::EditorWindowHandle owner, int step)
{
    ownerWindow = owner;
    cascadeStep = step;

    if (windowHandle != nullptr)
        platform::setEditorWindowOwner(windowHandle, ownerWindow);
}

void eee34ty0w9845rgymsiufdgomiugdfi::handleViewResized(int width, int height)
{
    if (!editorOpen || beingDeleted || width <= 0 || height <= 0)
        return;

    if (width == clientWidth && height == clientHeight)
        return;

    const platform::EditorDpiScope scaled;
    resizeWindow(width, height);

    if (onWindowChanged)
        onWindowChanged();
}

void eee34ty0w9845rgymsiufdgomiugdfi::openEditorWindow(Vst2::AEffect* effectToShow)
{
    if (editorOpen)
    {
        editorWindowOutput("\neditor is already open!");
        _bringToFront();
        return;
    }

    // Nothing to open, and no dispatcher to call, without the plugin's effect.
    if (effectToShow == nullptr)
        return;

    effect = effectToShow;

    // The window and the plugin's own windows, made in its open call, are made system-scaled.
    const platform::EditorDpiScope scaled;
    createNativeWindow();

    // Without a native window there is nothing to open the editor in.
    if (windowHandle == nullptr)
        return;

    attachPluginEditor();
    platform::showEditorWindow(windowHandle);
    editorOpen = true;
}

void eee34ty0w9845rgymsiufdgomiugdfi::resizeWindow(int width, int height)
{
    clientWidth = width;
    clientHeight = height;
    platform::resizeEditorWindow(windowHandle, width, height);
}

void eee34ty0w9845rgymsiufdgomiugdfi::attachPluginEditor()
{
    Vst2::ERect* rect = nullptr;
    dispatchEditorOpcode(Vst2::effEditGetRect, &rect);
    dispatchEditorOpcode(Vst2::effEditOpen, windowHandle);

    // Some plugins know their size only once the editor is open.
    if (rect == nullptr)
        dispatchEditorOpcode(Vst2::effEditGetRect, &rect);

    // The rectangle is the plugin's memory: copy it before the next call can change it.
    Vst2::ERect size = fallbackEditorRect;

    if (rect != nullptr)
    {
        size = *rect;

        if (allZero(size))
        {
            Vst2::ERect* second = nullptr;
            dispatchEditorOpcode(Vst2::effEditGetRect, &second);
            if (second != nullptr)
                size = *second;
        }
    }

    clientWidth = size.right - size.left;
    clientHeight = size.bottom - size.top;
    const auto monitors = platform::monitorAreas();
    const auto monitor = platform::monitorFor(monitors, platform::screenRectOf(ownerWindow),
                                              platform::ScreenRect { 0, 0, clientWidth, clientHeight });
    const auto corner = platform::cascadedPosition(monitor, cascadeStep, clientWidth, clientHeight);
    platform::placeEditorWindow(windowHandle, clientWidth, clientHeight, corner.x, corner.y);
    platform::startEditorTimer(windowHandle);
    dispatchEditorOpcode(Vst2::effEditTop);
}

void eee34ty0w9845rgymsiufdgomiugdfi::idlePluginEditor()
{
    if (!beingDeleted && effect != nullptr && editorOpen)
        dispatchEditorOpcode(Vst2::effEditIdle);
}

void eee34ty0w9845rgymsiufdgomiugdfi::closeEditorWindow()
{
    const bool wasOpen = detachPluginEditor(false);
    editorWindowOutput(wasOpen ? "\nClosing editor..." : "\neditor is already closed!");
    // Also a window made for an editor that never opened is not left behind.
    destroyNativeWindow();
    if (wasOpen)
        effect = nullptr;
}

bool eee34ty0w9845rgymsiufdgomiugdfi::detachPluginEditor(bool forgetWindow)
{
    if (!editorOpen)
        return false;

    platform::stopEditorTimer(windowHandle);
    dispatchEditorOpcode(Vst2::effEditSleep);
    dispatchEditorOpcode(Vst2::effEditClose);
    editorOpen = false;

    if (forgetWindow)
        windowHandle = nullptr;

    return true;
}

void eee34ty0w9845rgymsiufdgomiugdfi::setWindowTitle(const char* text)
{
    platform::setEditorWindowTitle(windowHandle, text);
}

void eee34ty0w9845rgymsiufdgomiugdfi::raiseWindow()
{
    if (windowHandle != nullptr)
        platform::raiseEditorWindow(windowHandle);
}

void eee34ty0w9845rgymsiufdgomiugdfi::_bringToFront()
{
    editorWindowOutput("\n_bringToFront() not implemented in Windows!!");
}

void eee34ty0w9845rgymsiufdgomiugdfi::handleCloseRequest()
{
    detachPluginEditor(false);
    destroyNativeWindow();

    if (onWindowChanged)
        onWindowChanged();
}

void eee34ty0w9845rgymsiufdgomiugdfi::destroyNativeWindow()
{
    platform::destroyEditorWindow(windowHandle);
    windowHandle = nullptr;
}
