#include "NativeParentWindow.h"

#include <windows.h>

namespace pendulum::rawhost
{
namespace
{
const wchar_t* const windowClassName = L"PendulumRawHostEditorWindow";

ATOM registerWindowClass()
{
    static const ATOM atom = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        windowClass.lpszClassName = windowClassName;
        return RegisterClassExW(&windowClass);
    }();
    return atom;
}
} // namespace

struct NativeParentWindow::Native
{
    HWND window = nullptr;
};

NativeParentWindow::NativeParentWindow(int width, int height) : native_(std::make_unique<Native>())
{
    if (registerWindowClass() == 0)
        return;

    // The outer size that gives a client area of the size asked for.
    RECT frame{0, 0, width, height};
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    AdjustWindowRect(&frame, style, FALSE);
    native_->window = CreateWindowExW(0, windowClassName, L"raw host editor window", style, 0, 0,
                                      frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
    if (native_->window != nullptr)
    {
        ShowWindow(native_->window, SW_SHOWNORMAL);
        UpdateWindow(native_->window);
    }
}

NativeParentWindow::~NativeParentWindow()
{
    if (native_->window != nullptr)
        DestroyWindow(native_->window);
}

bool NativeParentWindow::isOpen() const noexcept
{
    return native_->window != nullptr;
}

void* NativeParentWindow::handle() const noexcept
{
    return native_->window;
}

void NativeParentWindow::dispatchEvents()
{
}

int NativeParentWindow::numChildren() const
{
    int count = 0;
    for (HWND child = GetWindow(native_->window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        ++count;
    return count;
}

std::optional<WindowPixels> NativeParentWindow::captureChild() const
{
    if (native_->window == nullptr)
        return std::nullopt;

    HWND child = GetWindow(native_->window, GW_CHILD);
    if (child == nullptr || !IsWindowVisible(child))
        return std::nullopt;

    RECT client{};
    GetClientRect(child, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    if (width <= 0 || height <= 0)
        return std::nullopt;

    HDC source = GetDC(child);
    HDC memory = CreateCompatibleDC(source);

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);

    std::optional<WindowPixels> result;
    if (bitmap != nullptr && bits != nullptr)
    {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY))
        {
            GdiFlush();
            WindowPixels pixels;
            pixels.width = width;
            pixels.height = height;
            pixels.argb.resize(static_cast<std::size_t>(width * height));
            const auto* row = static_cast<const std::uint32_t*>(bits);
            for (std::size_t i = 0; i < pixels.argb.size(); ++i)
                pixels.argb[i] = 0xFF000000u | (row[i] & 0x00FFFFFFu); // 0x00RRGGBB in a 32-bit DIB
            result = std::move(pixels);
        }
        SelectObject(memory, previous);
        DeleteObject(bitmap);
    }

    DeleteDC(memory);
    ReleaseDC(child, source);
    return result;
}

bool NativeParentWindow::clickAt(int x, int y)
{
    if (native_->window == nullptr)
        return false;

    // The deepest visible window at that point receives the button messages, at its own
    // coordinates, as it would from the mouse.
    HWND target = native_->window;
    POINT point{ x, y };
    for (;;)
    {
        HWND child = ChildWindowFromPointEx(target, point, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
        if (child == nullptr || child == target)
            break;
        MapWindowPoints(target, child, &point, 1);
        target = child;
    }

    const auto position = MAKELPARAM(point.x, point.y);
    PostMessageW(target, WM_MOUSEMOVE, 0, position);
    PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, position);
    PostMessageW(target, WM_LBUTTONUP, 0, position);
    return true;
}

} // namespace pendulum::rawhost
