#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>

/**
    Keeps automatic crash recovery from reloading a plugin that can never come back, and decides
    which of a slot's two snapshots a reload gets.

    Limit: at most maxRecoveries automatic reloads of a slot within windowMs (3 in 60 s). The first
    reload of a window follows the crash at once, each further one waits delayStepMs longer than
    the one before (0 s, 1 s, 2 s): a plugin that crashes because something outside it is not
    ready yet (a licence server, a device) gets time, and a crash loop costs the host a reload
    every few seconds instead of every watchdog tick. A crash past the limit gives up: the slot
    stays crashed and is not reloaded again until the user reloads or loads it by hand, or loads a
    project; reloads older than the window no longer count.

    Snapshots: a reload is given the slot's last snapshot, unless the plugin crashed "right after"
    the reload before: within settleMs (10 s) of that reload, and while the snapshot it was given
    is still the slot's (no save has taken a different state from it since). Then the snapshot
    itself is suspect, and the next reload gets the snapshot before it; after a crash right after
    that one too, the plugin's default state (no snapshot at all).

    Time comes from the clock given at construction (milliseconds, growing), so that tests can
    drive a minute of crashes without waiting for it. Crashes and reloads are told on the message
    thread; a save tells of its new snapshot on whatever thread the host saves from, so every
    member takes the guard's own lock, held only for the bookkeeping. Never the audio thread.
*/
class CrashLoopGuard
{
public:
    static constexpr int numSlots = 2;
    static constexpr int maxRecoveries = 3;
    static constexpr double windowMs = 60000.0;
    static constexpr double delayStepMs = 1000.0;
    static constexpr double settleMs = 10000.0;

    /** Which snapshot a reload gives the plugin. */
    enum class Snapshot
    {
        last,  // the slot's last snapshot (the state of the last save or project load)
        older, // the one before it
        none   // no snapshot: the plugin's default state
    };

    enum class Action
    {
        reload, // reload after delayMs
        giveUp, // past the limit: leave the slot crashed (said once, by this answer)
        ignore  // a reload is waiting already, or the guard gave up before: nothing to do
    };

    struct Decision
    {
        Action action = Action::ignore;
        int delayMs = 0;
        Snapshot snapshot = Snapshot::last;
        int recentReloads = 0; // automatic reloads counted within the window, this one included
    };

    using Clock = std::function<double()>;

    /** Without a clock, the system's millisecond counter. */
    explicit CrashLoopGuard(Clock clock = {});

    void setClock(Clock clock);
    double now() const;

    /**
        The slot's plugin crashed and automatic recovery would reload it: counts the reload and
        says when, with which snapshot, or that the guard gives up. A reload it grants is waiting
        until finished() (or reset()) is called for the slot.
    */
    Decision crashed(int slot);

    /**
        A reload of the slot has ended (automatic or by hand): a reload that worked starts the
        time in which a new crash counts as "right after" the snapshot it was given.
    */
    void finished(int slot, bool reloaded, Snapshot given);

    /**
        A save took a state from the slot's plugin that differs from the snapshot it was given:
        a later crash no longer falls back past it.
    */
    void snapshotReplaced(int slot);

    /** Forgets the slot's crashes and reloads: the user loaded or reloaded it, or a project did. */
    void reset(int slot);

    /** True while an automatic reload of the slot waits for its delay (or runs). */
    bool isWaiting(int slot) const;
    /** True once the slot went past the limit, until reset. */
    bool hasGivenUp(int slot) const;
    /** The snapshot the waiting reload of the slot is to give (see crashed()). */
    Snapshot granted(int slot) const;
    /** The snapshot the slot's plugin was given at its last reload, until a save replaced it. */
    Snapshot lastGiven(int slot) const;
    /**
        Changes with every reset of the slot: a delayed reload remembers it, and does not run when
        the slot was reset meanwhile.
    */
    std::uint32_t ticket(int slot) const;

private:
    struct SlotRecord
    {
        std::array<double, maxRecoveries> reloadTimes {}; // the last reloads granted, oldest first
        int reloadCount = 0;                              // how many of reloadTimes are in use
        bool waiting = false;
        bool gaveUp = false;
        bool reloadedOnce = false; // a reload worked since the last reset
        double reloadedAt = 0.0;
        Snapshot given = Snapshot::last;
        Snapshot granted = Snapshot::last;
        std::uint32_t ticket = 0;
    };

    Clock clock;
    mutable std::mutex lock;
    std::array<SlotRecord, numSlots> slots {};
};
