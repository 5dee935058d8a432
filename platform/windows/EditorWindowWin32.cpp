// Hosted plugin editor windows on Windows: a modeless dialog made from the in-memory template,
// with its owner's events in the window's user data. The framework's message loop dispatches the
// dialog's messages, its timer included, on the message thread.
#include "platform/EditorWindow.h"

#include <windows.h>

#include <string>
#include <vector>

namespace pendulum::platform
{
namespace
{
constexpr UINT_PTR idleTimerId = 1;

/** What the window's user data holds: its owner's events, and the plugin's view's last extent. */
struct WindowRecord
{
    EditorWindowEvents events;
    SIZE viewExtent { -1, -1 }; // right and bottom edges of the view; -1 without one
};

/**
    The right and bottom edges of the plugin's view (the window's first child) in the client area;
    -1, -1 without a child. A plugin that resizes its editor resizes that view.
*/
SIZE viewExtentOf(HWND window)
{
    HWND child = GetWindow(window, GW_CHILD);
    if (child == nullptr)
        return { -1, -1 };

    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&rect), 2);
    return { rect.right, rect.bottom };
}

void followView(HWND window, WindowRecord& record)
{
    const auto extent = viewExtentOf(window);
    const bool known = record.viewExtent.cx >= 0;
    const bool changed = extent.cx != record.viewExtent.cx || extent.cy != record.viewExtent.cy;
    record.viewExtent = extent;

    // A view that appears later (no view when the timer started) is taken as it comes.
    if (known && changed && extent.cx > 0 && extent.cy > 0 && record.events.viewResized != nullptr)
        record.events.viewResized(record.events.owner, (int) extent.cx, (int) extent.cy);
}

// The per-window DPI awareness functions, where the system has them (Windows 10 1607 and later,
// recent Wine); looked up at run time so the DLL also loads where they are missing.
using SetThreadDpiContext = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
using IsValidDpiContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);

template <typename Function>
Function user32Function(const char* name)
{
    HMODULE user32 = GetModuleHandleA("user32.dll");
    return user32 != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                             : nullptr;
}

INT_PTR CALLBACK editorWindowProc(HWND window, UINT message, WPARAM, LPARAM)
{
    // Null for the messages that arrive while the dialog is being created, before it is stored.
    auto* record = reinterpret_cast<WindowRecord*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    auto* events = record != nullptr ? &record->events : nullptr;

    switch (message)
    {
        case WM_CLOSE:
            if (events != nullptr && events->closeRequested != nullptr)
                events->closeRequested(events->owner);
            else
                DestroyWindow(window);
            break;

        case WM_TIMER:
            if (record != nullptr)
                followView(window, *record);
            // The view's owner may have destroyed the window by now: read the record again.
            record = reinterpret_cast<WindowRecord*>(GetWindowLongPtrA(window, GWLP_USERDATA));
            if (record != nullptr && record->events.timer != nullptr)
                record->events.timer(record->events.owner);
            break;

        case WM_NCDESTROY:
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            delete record;
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
    auto* stored = new WindowRecord { events, { -1, -1 } };
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
    if (window == nullptr)
        return;

    if (IsIconic(asHwnd(window)))
        ShowWindow(asHwnd(window), SW_RESTORE);

    SetWindowPos(asHwnd(window), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void placeEditorWindow(EditorWindowHandle window, int clientWidth, int clientHeight, int x, int y)
{
    if (window == nullptr)
        return;

    const auto rect = outerRectForClient(asHwnd(window), clientWidth, clientHeight);
    SetWindowPos(asHwnd(window), HWND_NOTOPMOST, x, y, rect.right - rect.left, rect.bottom - rect.top, 0);
}

namespace
{
BOOL CALLBACK addMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data)
{
    auto& areas = *reinterpret_cast<std::vector<ScreenRect>*>(data);
    MONITORINFO info {};
    info.cbSize = sizeof info;

    if (GetMonitorInfoA(monitor, &info))
    {
        const auto& work = info.rcWork;
        const ScreenRect area { (int) work.left, (int) work.top, (int) (work.right - work.left),
                                (int) (work.bottom - work.top) };
        if ((info.dwFlags & MONITORINFOF_PRIMARY) != 0)
            areas.insert(areas.begin(), area);
        else
            areas.push_back(area);
    }

    return TRUE;
}
} // namespace

std::vector<ScreenRect> monitorAreas()
{
    std::vector<ScreenRect> areas;
    EnumDisplayMonitors(nullptr, nullptr, &addMonitor, reinterpret_cast<LPARAM>(&areas));
    return areas;
}

EditorWindowHandle topLevelWindowOf(void* nativeView)
{
    if (nativeView == nullptr || !IsWindow(static_cast<HWND>(nativeView)))
        return nullptr;

    return GetAncestor(static_cast<HWND>(nativeView), GA_ROOT);
}

std::optional<ScreenRect> screenRectOf(EditorWindowHandle window)
{
    RECT rect;
    if (window == nullptr || !GetWindowRect(asHwnd(window), &rect))
        return std::nullopt;

    return ScreenRect { (int) rect.left, (int) rect.top, (int) (rect.right - rect.left), (int) (rect.bottom - rect.top) };
}

void setEditorWindowOwner(EditorWindowHandle window, EditorWindowHandle owner)
{
    // For a top-level window this slot holds its owner, not a parent.
    if (window != nullptr)
        SetWindowLongPtrA(asHwnd(window), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
}

EditorDpiScope::EditorDpiScope()
{
    static const auto setContext = user32Function<SetThreadDpiContext>("SetThreadDpiAwarenessContext");
    static const auto isValid = user32Function<IsValidDpiContext>("IsValidDpiAwarenessContext");

    if (setContext == nullptr)
        return;

    // GDI-scaled where the system has it (sharper text of GDI-drawn editors), plain unaware else.
    auto context = DPI_AWARENESS_CONTEXT_UNAWARE_GDISCALED;
    if (isValid == nullptr || !isValid(context))
        context = DPI_AWARENESS_CONTEXT_UNAWARE;

    previous = setContext(context);
}

EditorDpiScope::~EditorDpiScope()
{
    static const auto setContext = user32Function<SetThreadDpiContext>("SetThreadDpiAwarenessContext");

    if (setContext != nullptr && previous != nullptr)
        setContext(static_cast<DPI_AWARENESS_CONTEXT>(previous));
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
    if (window == nullptr)
        return;

    // The timer starts once the plugin's editor is open in the window: its view's extent now is
    // the one the window was made for, and a change from it is the plugin resizing its editor.
    if (auto* record = reinterpret_cast<WindowRecord*>(GetWindowLongPtrA(asHwnd(window), GWLP_USERDATA)))
        record->viewExtent = viewExtentOf(asHwnd(window));

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
