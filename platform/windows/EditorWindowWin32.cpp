// Hosted plugin editor windows on Windows: a modeless dialog made from the in-memory template,
// with its owner's events in the window's user data. The framework's message loop dispatches the
// dialog's messages, its timer included, on the message thread.
#include "platform/EditorWindow.h"

#include <windows.h>

#include <string>

namespace pendulum::platform
{
namespace
{
constexpr UINT_PTR idleTimerId = 1;

INT_PTR CALLBACK editorWindowProc(HWND window, UINT message, WPARAM, LPARAM)
{
    // Null for the messages that arrive while the dialog is being created, before it is stored.
    auto* events = reinterpret_cast<EditorWindowEvents*>(GetWindowLongPtrA(window, GWLP_USERDATA));

    switch (message)
    {
        case WM_CLOSE:
            if (events != nullptr && events->closeRequested != nullptr)
                events->closeRequested(events->owner);
            else
                DestroyWindow(window);
            break;

        case WM_TIMER:
            if (events != nullptr && events->timer != nullptr)
                events->timer(events->owner);
            break;

        case WM_NCDESTROY:
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            delete events;
            break;

        default:
            break;
    }

    return FALSE;
}

HWND asHwnd(EditorWindowHandle window) noexcept { return static_cast<HWND>(window); }

RECT outerRectForClient(HWND window, int clientWidth, int clientHeight)
{
    RECT rect;
    SetRect(&rect, 0, 0, clientWidth, clientHeight);
    AdjustWindowRectEx(&rect, (DWORD) GetWindowLongA(window, GWL_STYLE), FALSE,
                       (DWORD) GetWindowLongA(window, GWL_EXSTYLE));
    return rect;
}
} // namespace

EditorWindowHandle createEditorWindow(const EditorDialogTemplate& dialogTemplate, const EditorWindowEvents& events)
{
    // The window's user data holds a copy of the events, which the window frees when it goes.
    auto* stored = new EditorWindowEvents(events);
    const auto* data = reinterpret_cast<LPCDLGTEMPLATEA>(dialogTemplate.words.data());
    HWND window = CreateDialogIndirectParamA(nullptr, data, nullptr, editorWindowProc, (LPARAM) stored);

    if (window == nullptr)
    {
        delete stored;
        return nullptr;
    }

    SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR) stored);
    return window;
}

void showEditorWindow(EditorWindowHandle window)
{
    if (window != nullptr)
        ShowWindow(asHwnd(window), SW_SHOW);
}

void raiseEditorWindow(EditorWindowHandle window)
{
    if (window != nullptr)
        SetWindowPos(asHwnd(window), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void placeEditorWindow(EditorWindowHandle window, int clientWidth, int clientHeight)
{
    if (window == nullptr)
        return;

    const auto rect = outerRectForClient(asHwnd(window), clientWidth, clientHeight);
    SetWindowPos(asHwnd(window), HWND_NOTOPMOST, 0, 0, rect.right - rect.left, rect.bottom - rect.top, 0);
}

void resizeEditorWindow(EditorWindowHandle window, int clientWidth, int clientHeight)
{
    if (window == nullptr)
        return;

    const auto rect = outerRectForClient(asHwnd(window), clientWidth, clientHeight);
    SetWindowPos(asHwnd(window), nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void startEditorTimer(EditorWindowHandle window)
{
    if (window != nullptr)
        SetTimer(asHwnd(window), idleTimerId, (UINT) editorIdlePeriodMs, nullptr);
}

void stopEditorTimer(EditorWindowHandle window)
{
    if (window != nullptr)
        KillTimer(asHwnd(window), idleTimerId);
}

void setEditorWindowTitle(EditorWindowHandle window, const char* utf8Title)
{
    if (window == nullptr || utf8Title == nullptr)
        return;

    // The title call takes the system's ANSI code page: go through UTF-16 to get there.
    const int wideLength = MultiByteToWideChar(CP_UTF8, 0, utf8Title, -1, nullptr, 0);
    std::wstring wide((size_t) (wideLength > 0 ? wideLength : 1), L'\0');
    if (wideLength > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8Title, -1, wide.data(), wideLength);

    const int ansiLength = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi((size_t) (ansiLength > 0 ? ansiLength : 1), '\0');
    if (ansiLength > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi.data(), ansiLength, nullptr, nullptr);

    SetWindowTextA(asHwnd(window), ansi.c_str());
}

void destroyEditorWindow(EditorWindowHandle window)
{
    if (window != nullptr)
        DestroyWindow(asHwnd(window));
}
} // namespace pendulum::platform
