#include "NativeParentWindow.h"

#include <cstdint>

#if defined(_WIN32)
#include <windows.h>

struct NativeParentWindow::Native
{
    HWND window = nullptr;
};

namespace
{
const wchar_t* windowClass()
{
    static const wchar_t* name = [] {
        WNDCLASSW description{};
        description.lpfnWndProc = DefWindowProcW;
        description.hInstance = GetModuleHandleW(nullptr);
        description.lpszClassName = L"PendulumValidationHost";
        RegisterClassW(&description);
        return L"PendulumValidationHost";
    }();
    return name;
}

BOOL CALLBACK countChild(HWND, LPARAM counter)
{
    ++*reinterpret_cast<int*>(counter);
    return TRUE;
}
} // namespace

NativeParentWindow::NativeParentWindow() : native(new Native)
{
    native->window = CreateWindowExW(0, windowClass(), L"validation host", WS_OVERLAPPEDWINDOW, 0, 0, 500, 500, nullptr,
                                     nullptr, GetModuleHandleW(nullptr), nullptr);
    if (native->window != nullptr)
        ShowWindow(native->window, SW_SHOWNA);
}

NativeParentWindow::~NativeParentWindow()
{
    if (native->window != nullptr)
        DestroyWindow(native->window);
    delete native;
}

bool NativeParentWindow::isValid() const noexcept
{
    return native->window != nullptr;
}

void* NativeParentWindow::handle() const noexcept
{
    return native->window;
}

int NativeParentWindow::numChildren() const
{
    int children = 0;
    if (native->window != nullptr)
        EnumChildWindows(native->window, countChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

#else
#include <X11/Xlib.h>

struct NativeParentWindow::Native
{
    Display* display = nullptr;
    Window window = 0;
};

NativeParentWindow::NativeParentWindow() : native(new Native)
{
    native->display = XOpenDisplay(nullptr);
    if (native->display == nullptr)
        return;
    native->window = XCreateSimpleWindow(native->display, DefaultRootWindow(native->display), 0, 0, 500, 500, 0, 0, 0);
    XMapWindow(native->display, native->window);
    XSync(native->display, False);
}

NativeParentWindow::~NativeParentWindow()
{
    if (native->display != nullptr)
    {
        if (native->window != 0)
            XDestroyWindow(native->display, native->window);
        XCloseDisplay(native->display);
    }
    delete native;
}

bool NativeParentWindow::isValid() const noexcept
{
    return native->display != nullptr && native->window != 0;
}

void* NativeParentWindow::handle() const noexcept
{
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(native->window));
}

int NativeParentWindow::numChildren() const
{
    if (!isValid())
        return 0;
    XSync(native->display, False);
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(native->display, native->window, &root, &parent, &children, &count) == 0)
        return 0;
    if (children != nullptr)
        XFree(children);
    return static_cast<int>(count);
}
#endif
