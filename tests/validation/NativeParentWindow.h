#pragma once

// A top-level window of the host's own, into which the plugin's editor is opened (effEditOpen takes
// the native parent: an X11 Window on Linux, an HWND on Windows).
class NativeParentWindow
{
public:
    NativeParentWindow();
    ~NativeParentWindow();
    NativeParentWindow(const NativeParentWindow&) = delete;
    NativeParentWindow& operator=(const NativeParentWindow&) = delete;

    bool isValid() const noexcept;
    /** What effEditOpen is given. */
    void* handle() const noexcept;
    /** How many native child windows the plugin has put into it (its embedded editor). */
    int numChildren() const;

private:
    struct Native;
    Native* native;
};
