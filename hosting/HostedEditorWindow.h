#pragma once

#include "platform/EditorWindow.h"
#include "Vst2.h"

/**
    The native window in which a hosted plugin shows its own editor. It talks to the editor
    directly through the plugin's VST2 dispatcher (the editor opcodes 13 to 21), not through the
    framework's plugin-editor classes, and owns the native window it opens the editor in.

    Message thread only. The window opens at the top left corner of the screen, sized to the
    plugin's editor rectangle; a 100 ms timer sends the editor its idle calls while it is open.
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

    /** Puts the window on top without moving or resizing it. */
    void raiseWindow();
    void _bringToFront();

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

    Vst2::AEffect* effect = nullptr;
    pendulum::platform::EditorWindowHandle windowHandle = nullptr;
    bool beingDeleted = false;
    pendulum::platform::EditorDialogTemplate dialogTemplate;
    bool editorOpen = false;

    eee34ty0w9845rgymsiufdgomiugdfi(const eee34ty0w9845rgymsiufdgomiugdfi&) = delete;
    eee34ty0w9845rgymsiufdgomiugdfi& operator=(const eee34ty0w9845rgymsiufdgomiugdfi&) = delete;
};
