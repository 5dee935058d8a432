#pragma once

#include "platform/EditorWindow.h"
#include "Vst2.h"

#include <functional>

/**
    The native window in which a hosted plugin shows its own editor. It talks to the editor
    directly through the plugin's VST2 dispatcher (the editor opcodes 13 to 21), not through the
    framework's plugin-editor classes, and owns the native window it opens the editor in.

    Message thread only. The window opens sized to the plugin's editor rectangle, on the monitor of
    its owner (the top-level window of the container's editor; the primary monitor without one),
    at the cascade position it was given, and stays above its owner. It follows the plugin's view
    when the plugin resizes its editor. A 100 ms timer sends the editor its idle calls while it is
    open. On Windows the window and the plugin's editor are made system-scaled (DPI-unaware), so an
    editor drawn for 96 DPI is shown at its size on a high-DPI monitor.
    Closing the window from its frame closes the plugin's editor and destroys the native window;
    the object stays, and the next openEditorWindow makes a new one.

    Diagnostics go to standard output, each starting with a line feed, flushed where noted.
*/
class eee34ty0w9845rgymsiufdgomiugdfi
{
public:
    eee34ty0w9845rgymsiufdgomiugdfi() = default;
    virtual ~eee34ty0w9845rgymsiufdgomiugdfi();

    virtual void unusedHook0() {}
    /** Makes the native window from the dialog template; its events come back to this object. */
    virtual void createNativeWindow();
    /** Opens the plugin's editor in a new native window, unless it is open already. */
    virtual void openEditorWindow(Vst2::AEffect* effectToShow);
    /** Gives the window the outer size for a client area of width x height, where it stands. */
    virtual void resizeWindow(int width, int height);
    /** Opens the plugin's editor in the window and sizes and places the window for it. */
    virtual void attachPluginEditor();
    virtual void unusedHook1() {}
    /** Sends the editor its idle call, while it is open and this object is not being deleted. */
    virtual void idlePluginEditor();
    /** Closes the plugin's editor and destroys the native window. */
    virtual void closeEditorWindow();
    /** Closes the plugin's editor (sleep, then close); false if it was not open. */
    virtual bool detachPluginEditor(bool forgetWindow);
    /** Sets the window's title (UTF-8). */
    virtual void setWindowTitle(const char* text);

    /**
        Where the next window opens: on `owner`'s monitor, owned by it (null: no owner, the primary
        monitor), at cascade position `cascadeStep` (see platform/EditorPlacement.h). An open
        window takes the new owner at once.
    */
    void setPlacement(pendulum::platform::EditorWindowHandle owner, int cascadeStep);

    /** Puts the window on top without moving or resizing it, restoring it if it is minimised. */
    void raiseWindow();
    void _bringToFront();

    /**
        Called after a change the window made by itself: the user closed it from its frame, or it
        followed the plugin's view to a new size (the helper process tells its container).
    */
    std::function<void()> onWindowChanged;
    int getClientWidth() const noexcept { return clientWidth; }
    int getClientHeight() const noexcept { return clientHeight; }

    Vst2::AEffect* getEffect() const noexcept { return effect; }
    pendulum::platform::EditorWindowHandle getWindowHandle() const noexcept { return windowHandle; }
    bool isEditorOpen() const noexcept { return editorOpen; }

private:
    /** The user closed the window from its frame. */
    void handleCloseRequest();
    void destroyNativeWindow();
    Vst2::VstIntPtr dispatchEditorOpcode(Vst2::VstInt32 opcode, void* ptr = nullptr);

    static void closeRequestedCallback(void* owner);
    static void timerCallback(void* owner);
    static void viewResizedCallback(void* owner, int width, int height);
    /** The plugin resized its view: the window's client area follows. */
    void handleViewResized(int width, int height);

    Vst2::AEffect* effect = nullptr;
    pendulum::platform::EditorWindowHandle windowHandle = nullptr;
    bool beingDeleted = false;
    pendulum::platform::EditorDialogTemplate dialogTemplate;
    bool editorOpen = false;
    pendulum::platform::EditorWindowHandle ownerWindow = nullptr;
    int cascadeStep = 0;
    int clientWidth = 0; // the client size last given to the window
    int clientHeight = 0;

    eee34ty0w9845rgymsiufdgomiugdfi(const eee34ty0w9845rgymsiufdgomiugdfi&) = delete;
    eee34ty0w9845rgymsiufdgomiugdfi& operator=(const eee34ty0w9845rgymsiufdgomiugdfi&) = delete;
};
