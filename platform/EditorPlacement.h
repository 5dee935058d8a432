#pragma once

#include "platform/EditorWindow.h"

#include <algorithm>
#include <optional>
#include <vector>

// Where a hosted plugin's editor window opens: on the monitor that shows the container's editor
// (the primary one when there is none), cascaded so that the windows of both slots and of several
// containers do not cover each other exactly. Pure arithmetic, the same on every platform.

namespace pendulum::platform
{
/** Distance of the first window from the monitor's top left corner. */
constexpr int editorCascadeMargin = 48;
/** Offset of each further window, right and down. */
constexpr int editorCascadeStep = 32;

struct ScreenPoint
{
    int x = 0;
    int y = 0;

    bool operator==(const ScreenPoint& other) const noexcept { return x == other.x && y == other.y; }
};

inline long long overlapArea(const ScreenRect& a, const ScreenRect& b) noexcept
{
    const auto width = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
    const auto height = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
    return width > 0 && height > 0 ? (long long) width * height : 0;
}

/**
    The monitor the anchor (the container's editor) lies on most; the first (primary) monitor when
    there is no anchor or it lies on none. `fallback` stands for the screen when no monitor is known.
*/
inline ScreenRect monitorFor(const std::vector<ScreenRect>& monitors, const std::optional<ScreenRect>& anchor,
                             const ScreenRect& fallback)
{
    if (monitors.empty())
        return fallback;

    const ScreenRect* best = &monitors.front();
    long long bestArea = 0;

    if (anchor.has_value())
        for (const auto& monitor : monitors)
            if (const auto area = overlapArea(monitor, *anchor); area > bestArea)
            {
                best = &monitor;
                bestArea = area;
            }

    return *best;
}

/**
    The top left corner of cascade position `step` (0, 1, ...) for a window of width x height on
    the monitor: `editorCascadeMargin` in from the corner, `editorCascadeStep` further right and
    down per step. Positions whose window would leave the monitor are not used: the cascade starts
    again from its first position. A window larger than the monitor opens at the monitor's corner.
*/
inline ScreenPoint cascadedPosition(const ScreenRect& monitor, int step, int width, int height)
{
    const auto fits = [&](int position) {
        const auto offset = editorCascadeMargin + position * editorCascadeStep;
        return offset + width <= monitor.width && offset + height <= monitor.height;
    };

    step = std::max(0, step);
    int fitting = 0;
    while (fitting <= step && fits(fitting))
        ++fitting;

    if (fitting == 0)
        return { monitor.x, monitor.y };

    const auto position = fitting > step ? step : step % fitting;
    const auto offset = editorCascadeMargin + position * editorCascadeStep;
    return { monitor.x + offset, monitor.y + offset };
}
} // namespace pendulum::platform
