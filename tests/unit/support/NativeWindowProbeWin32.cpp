#include "support/NativeWindowProbe.h"

#include <windows.h>

#include <algorithm>

namespace native_window
{
namespace
{
HWND asHwnd(void* window) { return static_cast<HWND>(window); }

juce::Image imageOfScreenArea(int x, int y, int width, int height)
{
    width = std::max(1, width);
    height = std::max(1, height);
    juce::Image image(juce::Image::RGB, width, height, true);

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY);

    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column)
        {
            const COLORREF value = GetPixel(memory, column, row);
            image.setPixelAt(column, row, juce::Colour(GetRValue(value), GetGValue(value), GetBValue(value)));
        }

    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return image;
}
} // namespace

bool connect()
{
    return true;
}

bool exists(void* window)
{
    return window != nullptr && IsWindow(asHwnd(window)) != FALSE;
}

std::optional<Geometry> geometryOf(void* window)
{
    if (!exists(window))
        return std::nullopt;

    RECT outer {}, client {};
    GetWindowRect(asHwnd(window), &outer);
    GetClientRect(asHwnd(window), &client);
    return Geometry { (int) outer.left, (int) outer.top, (int) (client.right - client.left),
                      (int) (client.bottom - client.top) };
}

std::string titleOf(void* window)
{
    char title[512] {};
    GetWindowTextA(asHwnd(window), title, (int) sizeof(title));
    return title;
}

void* findByTitle(const std::string& title)
{
    return FindWindowA(nullptr, title.c_str());
}

Geometry frameOnlyClientSize(void* window)
{
    RECT frame {};
    AdjustWindowRectEx(&frame, (DWORD) GetWindowLongA(asHwnd(window), GWL_STYLE), FALSE,
                       (DWORD) GetWindowLongA(asHwnd(window), GWL_EXSTYLE));
    const int frameWidth = frame.right - frame.left;
    return Geometry { 0, 0, std::max(0, GetSystemMetrics(SM_CXMINTRACK) - frameWidth), 0 };
}

bool isStackedAbove(void* upper, void* lower)
{
    // Top-level windows from the top of the z-order down: whichever comes first lies above.
    for (HWND window = GetTopWindow(nullptr); window != nullptr; window = GetWindow(window, GW_HWNDNEXT))
    {
        if (window == asHwnd(upper))
            return true;
        if (window == asHwnd(lower))
            return false;
    }
    return false;
}

void requestClose(void* window)
{
    PostMessageA(asHwnd(window), WM_CLOSE, 0, 0);
}

void* ownerOf(void* window)
{
    return GetWindow(asHwnd(window), GW_OWNER);
}

void minimise(void* window)
{
    ShowWindow(asHwnd(window), SW_MINIMIZE);
}

bool isMinimised(void* window)
{
    return IsIconic(asHwnd(window)) != FALSE;
}

void* makeHostWindow(int x, int y, int width, int height)
{
    HWND window = CreateWindowExA(0, "STATIC", "host window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, width, height,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    return window;
}

void destroyHostWindow(void* window)
{
    DestroyWindow(asHwnd(window));
}

std::optional<bool> isSystemScaled(void* window)
{
    using GetContext = DPI_AWARENESS_CONTEXT(WINAPI*)(HWND);
    using ContextAwareness = DPI_AWARENESS(WINAPI*)(DPI_AWARENESS_CONTEXT);
    HMODULE user32 = GetModuleHandleA("user32.dll");
    const auto getContext = reinterpret_cast<GetContext>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetWindowDpiAwarenessContext")));
    const auto awarenessOf = reinterpret_cast<ContextAwareness>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));

    if (getContext == nullptr || awarenessOf == nullptr)
        return std::nullopt;

    const auto awareness = awarenessOf(getContext(asHwnd(window)));
    if (awareness == DPI_AWARENESS_INVALID)
        return std::nullopt;
    return awareness == DPI_AWARENESS_UNAWARE;
}

void* firstChildOf(void* window)
{
    return GetWindow(asHwnd(window), GW_CHILD);
}

bool setMonitors(const std::vector<juce::Rectangle<int>>&)
{
    return false;
}

void clearMonitors() {}

juce::Image captureClient(void* window)
{
    if (!exists(window))
        return {};

    RECT client {};
    GetClientRect(asHwnd(window), &client);
    POINT origin { 0, 0 };
    ClientToScreen(asHwnd(window), &origin);
    return imageOfScreenArea(origin.x, origin.y, client.right - client.left, client.bottom - client.top);
}

juce::Image captureScreen(int width, int height)
{
    return imageOfScreenArea(0, 0, width, height);
}
} // namespace native_window
