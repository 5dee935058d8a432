#include "WaveformPlot.h"

#include "PixelFont.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace pendulum::demo
{

namespace
{
enum Colour : std::uint8_t
{
    background,
    ink,
    grid,
    beforeWave,
    afterWave,
    crashMark,
    switchMark,
    silenceShade,
    quietInk,
    restartMark
};

const std::vector<Rgb> kPalette = {
    { 255, 255, 255 }, { 20, 20, 20 },   { 225, 225, 225 }, { 40, 100, 200 }, { 230, 120, 20 },
    { 210, 30, 30 },   { 20, 150, 60 },  { 252, 228, 228 }, { 120, 120, 120 },
    { 130, 50, 170 },
};

constexpr int kWidth = 1280;
constexpr int kMarginLeft = 70;
constexpr int kMarginRight = 20;
constexpr int kTitleHeight = 34;
constexpr int kMarkerLabelHeight = 50; // three rows of marker labels
constexpr int kLaneHeight = 170;
constexpr int kLaneGap = 16;
constexpr int kAxisHeight = 36;
constexpr int kLegendHeight = 30;
constexpr int kHeight = kTitleHeight + kMarkerLabelHeight + 2 * kLaneHeight + kLaneGap + kAxisHeight + kLegendHeight;

std::string secondsLabel(double seconds, const char* format = "%.3f S")
{
    char text[32];
    std::snprintf(text, sizeof(text), format, seconds);
    return text;
}

class Frame
{
public:
    Frame(const FailoverRecord& record) : samples(std::max<long long>(1, record.renderedSamples())) {}

    int plotLeft() const { return kMarginLeft; }
    int plotWidth() const { return kWidth - kMarginLeft - kMarginRight; }
    int lanesTop() const { return kTitleHeight + kMarkerLabelHeight; }
    int laneTop(int lane) const { return lanesTop() + lane * (kLaneHeight + kLaneGap); }
    int lanesBottom() const { return laneTop(1) + kLaneHeight; }

    int columnOf(long long sample) const
    {
        return plotLeft() + static_cast<int>(static_cast<double>(sample) * plotWidth() / static_cast<double>(samples));
    }
    long long sampleOf(int column) const
    {
        return static_cast<long long>(static_cast<double>(column - plotLeft()) * static_cast<double>(samples) / plotWidth());
    }

private:
    long long samples;
};

void drawLane(IndexedImage& image, const Frame& frame, int lane, const std::vector<float>& channel,
              const FailoverTimeline& timeline, const char* name)
{
    const int top = frame.laneTop(lane);
    const int middle = top + kLaneHeight / 2;
    const int half = kLaneHeight / 2 - 4;

    image.horizontalLine(frame.plotLeft(), frame.plotLeft() + frame.plotWidth() - 1, top, grid);
    image.horizontalLine(frame.plotLeft(), frame.plotLeft() + frame.plotWidth() - 1, top + kLaneHeight - 1, grid);
    image.horizontalLine(frame.plotLeft(), frame.plotLeft() + frame.plotWidth() - 1, middle, grid);
    drawText(image, 8, middle - 3, name, ink);
    drawText(image, kMarginLeft - 24, top + 2, "+1", quietInk);
    drawText(image, kMarginLeft - 24, top + kLaneHeight - 9, "-1", quietInk);

    const auto total = static_cast<long long>(channel.size());
    for (int x = frame.plotLeft(); x < frame.plotLeft() + frame.plotWidth(); ++x)
    {
        const auto from = frame.sampleOf(x);
        const auto to = std::min(total, std::max(from + 1, frame.sampleOf(x + 1)));
        if (from >= total)
            break;

        float low = 0.0f, high = 0.0f;
        for (auto i = from; i < to; ++i)
        {
            low = std::min(low, channel[static_cast<size_t>(i)]);
            high = std::max(high, channel[static_cast<size_t>(i)]);
        }

        const bool afterCrash = timeline.crashed() && from >= timeline.crashSample;
        const auto colour = afterCrash && timeline.audibleAgain() && from >= timeline.audibleSample ? afterWave
                          : afterCrash                                                              ? quietInk
                                                                                                    : beforeWave;
        const auto toY = [&](float value) {
            return middle - static_cast<int>(std::lround(std::clamp(value, -1.0f, 1.0f) * static_cast<float>(half)));
        };
        image.verticalLine(x, toY(high), toY(low), colour);
    }
}

void drawMarker(IndexedImage& image, const Frame& frame, long long sample, int labelRow, std::uint8_t colour,
                const std::string& label)
{
    const int x = frame.columnOf(sample);
    for (int y = frame.lanesTop() - 4; y <= frame.lanesBottom() + 4; ++y)
        if ((y / 3) % 3 != 2) // dashed, so the waveform stays readable underneath
            image.fill(x - 1, y, 2, 1, colour);

    const int labelY = kTitleHeight + labelRow * 16;
    const int width = textWidth(label);
    const int labelX = std::clamp(x - width / 2, 2, kWidth - width - 2);
    drawText(image, labelX, labelY, label, colour);
}

void drawTimeAxis(IndexedImage& image, const Frame& frame, const FailoverRecord& record)
{
    const int y = frame.lanesBottom() + 4;
    image.horizontalLine(frame.plotLeft(), frame.plotLeft() + frame.plotWidth() - 1, y, ink);

    const double seconds = static_cast<double>(record.renderedSamples()) / record.sampleRate;
    const double step = seconds > 12.0 ? 2.0 : seconds > 5.0 ? 1.0 : 0.5;
    for (double t = 0.0; t <= seconds + 1e-9; t += step)
    {
        const int x = frame.columnOf(static_cast<long long>(t * record.sampleRate));
        image.verticalLine(x, y, y + 5, ink);
        const auto label = secondsLabel(t, step < 1.0 ? "%.1f" : "%.0f");
        drawText(image, x - textWidth(label) / 2, y + 9, label, ink);
    }
    drawText(image, frame.plotLeft() + frame.plotWidth() - textWidth("TIME (S)"), y + 22, "TIME (S)", quietInk);
}

void drawLegend(IndexedImage& image, int y, const PlotLabels& labels)
{
    int x = kMarginLeft;
    image.fill(x, y + 1, 14, 5, beforeWave);
    x += 20 + drawText(image, x + 20, y, labels.before, ink) + 30;
    image.fill(x, y + 1, 14, 5, afterWave);
    x += 20 + drawText(image, x + 20, y, labels.after, ink) + 30;
    image.fill(x, y + 1, 14, 5, silenceShade);
    drawText(image, x + 20, y, "SILENCE AFTER THE CRASH", ink);
}
} // namespace

IndexedImage plotFailover(const FailoverRecord& record, const FailoverTimeline& timeline, const PlotLabels& labels)
{
    IndexedImage image(kWidth, kHeight, kPalette);
    const Frame frame(record);

    drawText(image, kMarginLeft, 10, labels.title, ink, 2);

    if (timeline.crashed())
    {
        const auto end = timeline.audibleAgain() ? timeline.audibleSample : record.renderedSamples();
        image.fill(frame.columnOf(timeline.crashSample), frame.lanesTop(),
                   std::max(1, frame.columnOf(end) - frame.columnOf(timeline.crashSample)),
                   frame.lanesBottom() - frame.lanesTop(), silenceShade);
    }

    drawLane(image, frame, 0, record.left, timeline, "LEFT");
    drawLane(image, frame, 1, record.right, timeline, "RIGHT");
    drawTimeAxis(image, frame, record);

    if (timeline.crashed())
        drawMarker(image, frame, timeline.crashSample, 0, crashMark,
                   "CRASH " + secondsLabel(timeline.seconds(timeline.crashSample)));
    if (timeline.switched())
        drawMarker(image, frame, timeline.switchSeenSample, 1, switchMark,
                   "SWITCH " + secondsLabel(timeline.seconds(timeline.switchSeenSample)));

    // The crashed slot reloaded with its snapshot, ready again as the standby.
    if (timeline.recovered())
        drawMarker(image, frame, timeline.recoveredSample, 2, restartMark,
                   "SLOT 0 RESTARTED WITH ITS SNAPSHOT " + secondsLabel(timeline.seconds(timeline.recoveredSample)));

    drawLegend(image, kHeight - kLegendHeight + 8, labels);
    return image;
}

} // namespace pendulum::demo
