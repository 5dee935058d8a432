#pragma once

/**
    Knows which hosted plugins have a call of ours in progress on the message thread.

    A plugin may run a loop of its own inside such a call (a modal preset browser opened from its
    editor, or its request for host idle while we ask it to idle), and in that loop the host's
    windows, our panel, timers and posted work keep running. Whatever would destroy the plugin
    there (an unload, a reload, a restore) would pull its code out from under its own stack, so
    those operations ask here first and wait until the call has returned.

    Keyed by the plugin's effect handle. Message thread only, like the calls it counts.
*/
namespace plugin_calls
{
/** Counts one call into the plugin for the scope's lifetime. A null plugin counts nothing. */
class Scope
{
public:
    explicit Scope(const void* plugin) noexcept;
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    const void* plugin;
};

/** True while a call into the plugin is in progress (on the stack below us). */
bool inProgress(const void* plugin) noexcept;
} // namespace plugin_calls
