#include "crashwatch/CrashLoopGuard.h"

#include <juce_core/juce_core.h>

#include <utility>

CrashLoopGuard::CrashLoopGuard(Clock c)
{
    setClock(std::move(c));
}

void CrashLoopGuard::setClock(Clock c)
{
    const std::lock_guard<std::mutex> held(lock);
    clock = c ? std::move(c) : Clock([] { return juce::Time::getMillisecondCounterHiRes(); });
}

double CrashLoopGuard::now() const
{
    return clock();
}

CrashLoopGuard::Decision CrashLoopGuard::crashed(int slot)
{
    const std::lock_guard<std::mutex> held(lock);
    auto& record = slots[(size_t) slot];
    Decision decision;

    if (record.waiting || record.gaveUp)
        return decision;

    const auto time = now();

    // Reloads older than the window no longer count.
    int kept = 0;
    for (int i = 0; i < record.reloadCount; ++i)
        if (time - record.reloadTimes[(size_t) i] < windowMs)
            record.reloadTimes[(size_t) kept++] = record.reloadTimes[(size_t) i];
    record.reloadCount = kept;

    if (record.reloadCount >= maxRecoveries)
    {
        record.gaveUp = true;
        decision.action = Action::giveUp;
        decision.recentReloads = record.reloadCount;
        return decision;
    }

    decision.action = Action::reload;
    decision.delayMs = (int) (delayStepMs * record.reloadCount);
    record.reloadTimes[(size_t) record.reloadCount++] = time;
    decision.recentReloads = record.reloadCount;

    // A crash soon after a reload, whose snapshot no save has replaced since, blames that
    // snapshot: the next reload goes one generation further back.
    const bool rightAfter = record.reloadedOnce && time - record.reloadedAt < settleMs;
    if (!rightAfter)
        decision.snapshot = Snapshot::last;
    else
        decision.snapshot = record.given == Snapshot::last ? Snapshot::older : Snapshot::none;

    record.granted = decision.snapshot;
    record.waiting = true;
    return decision;
}

void CrashLoopGuard::finished(int slot, bool reloaded, Snapshot given)
{
    const std::lock_guard<std::mutex> held(lock);
    auto& record = slots[(size_t) slot];
    record.waiting = false;

    if (!reloaded)
        return;

    record.reloadedOnce = true;
    record.reloadedAt = now();
    record.given = given;
}

void CrashLoopGuard::snapshotReplaced(int slot)
{
    const std::lock_guard<std::mutex> held(lock);
    auto& record = slots[(size_t) slot];
    record.reloadedOnce = false;
    record.given = Snapshot::last;
}

void CrashLoopGuard::reset(int slot)
{
    const std::lock_guard<std::mutex> held(lock);
    auto& record = slots[(size_t) slot];
    const auto next = record.ticket + 1;
    record = SlotRecord {};
    record.ticket = next;
}

bool CrashLoopGuard::isWaiting(int slot) const
{
    const std::lock_guard<std::mutex> held(lock);
    return slots[(size_t) slot].waiting;
}

bool CrashLoopGuard::hasGivenUp(int slot) const
{
    const std::lock_guard<std::mutex> held(lock);
    return slots[(size_t) slot].gaveUp;
}

CrashLoopGuard::Snapshot CrashLoopGuard::lastGiven(int slot) const
{
    const std::lock_guard<std::mutex> held(lock);
    return slots[(size_t) slot].given;
}

std::uint32_t CrashLoopGuard::ticket(int slot) const
{
    const std::lock_guard<std::mutex> held(lock);
    return slots[(size_t) slot].ticket;
}

CrashLoopGuard::Snapshot CrashLoopGuard::granted(int slot) const
{
    const std::lock_guard<std::mutex> held(lock);
    return slots[(size_t) slot].granted;
}
