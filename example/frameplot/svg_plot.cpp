#include "svg_plot.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

const double WIDTH = 1000;
const double MARGIN_LEFT = 70;
const double MARGIN_RIGHT = 20;
const double MARGIN_TOP = 40;
const double LANE_HEIGHT = 90;
const double LANE_GAP = 12;
const double AXIS_HEIGHT = 40;

// Each lane is scaled to the positions it holds: their span (at least MIN_SPAN units,
// widened about its middle) with MARGIN_SHARE of it added above and below.
const double MIN_SPAN = 20;
const double MARGIN_SHARE = 0.05;

struct LaneScale {
    double low, high;    // values at the lane's bottom and top edges
    int lowest, highest; // the converted positions' extremes, shown as labels
    bool any;            // false when no value of the lane converted
};

LaneScale lane_scale(const Motion& motion, int lane)
{
    ServoSummary summary = summarise_servo(motion, lane);
    if (summary.lowest == FRAME_BAD_VALUE)
        return {0, MIN_SPAN, 0, 0, false};
    double low = summary.lowest, high = summary.highest;
    if (high - low < MIN_SPAN) {
        double middle = (low + high) / 2;
        low = middle - MIN_SPAN / 2;
        high = middle + MIN_SPAN / 2;
    }
    double margin = (high - low) * MARGIN_SHARE;
    return {low - margin, high + margin, summary.lowest, summary.highest, true};
}

void escape_xml(std::FILE* out, const char* text)
{
    for (const char* p = text; *p; ++p) {
        switch (*p) {
        case '&':
            std::fputs("&amp;", out);
            break;
        case '<':
            std::fputs("&lt;", out);
            break;
        case '>':
            std::fputs("&gt;", out);
            break;
        case '"':
            std::fputs("&quot;", out);
            break;
        default:
            // Control characters are not allowed in XML 1.0 text.
            if (static_cast<unsigned char>(*p) >= 0x20 || *p == '\t')
                std::fputc(*p, out);
        }
    }
}

// Frames that share a pixel unit of the time axis. A long recording puts thousands of frames
// into each unit; drawing them all makes a picture too large to open.
struct PixelUnits {
    int count;
    std::vector<int> unitOf; // per frame
    bool thinned;            // some unit holds more than two frames
};

PixelUnits pixel_units(const std::vector<double>& frameX, double plotWidth)
{
    PixelUnits units{static_cast<int>(plotWidth), std::vector<int>(frameX.size()), false};
    std::vector<int> frames(static_cast<std::size_t>(units.count), 0);
    for (std::size_t f = 0; f < frameX.size(); ++f) {
        int unit = static_cast<int>(frameX[f] - MARGIN_LEFT);
        unit = std::max(0, std::min(units.count - 1, unit));
        units.unitOf[f] = unit;
        units.thinned = ++frames[static_cast<std::size_t>(unit)] > 2 || units.thinned;
    }
    return units;
}

// The frames a lane draws: every one, unless the plot is thinned; then per unit the frames
// of its lowest and its highest position (in their order) and of its first unread value.
std::vector<bool> drawn_frames(const Motion& motion, int lane, const PixelUnits& units)
{
    const std::size_t frames = motion.delays.size();
    std::vector<bool> drawn(frames, !units.thinned);
    if (!units.thinned)
        return drawn;
    const std::size_t none = frames;
    std::vector<std::size_t> lowest(static_cast<std::size_t>(units.count), none);
    std::vector<std::size_t> highest(lowest), unread(lowest);
    auto value = [&](std::size_t f) { return motion.positions[f][static_cast<std::size_t>(lane)]; };
    for (std::size_t f = 0; f < frames; ++f) {
        const std::size_t unit = static_cast<std::size_t>(units.unitOf[f]);
        if (value(f) == FRAME_BAD_VALUE) {
            if (unread[unit] == none)
                unread[unit] = f;
            continue;
        }
        if (lowest[unit] == none || value(f) < value(lowest[unit]))
            lowest[unit] = f;
        if (highest[unit] == none || value(f) > value(highest[unit]))
            highest[unit] = f;
    }
    for (const std::vector<std::size_t>* kept : {&lowest, &highest, &unread})
        for (std::size_t f : *kept)
            if (f != none)
                drawn[f] = true;
    return drawn;
}

// A tick spacing of 1, 2 or 5 times a power of ten that gives at most ten ticks.
double tick_step(double seconds)
{
    if (seconds <= 0)
        return 1;
    double raw = seconds / 10;
    double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw)
            return m * power;
    return 10 * power;
}

} // namespace

bool write_svg(std::FILE* out, const Motion& motion, const char* title)
{
    const FrameHeader& header = motion.header;
    const int lanes = stored_ids(header);
    const double plotWidth = WIDTH - MARGIN_LEFT - MARGIN_RIGHT;
    const double height = MARGIN_TOP + lanes * (LANE_HEIGHT + LANE_GAP) + AXIS_HEIGHT;
    const double duration = static_cast<double>(motion_duration_ms(motion));
    const double span = duration > 0 ? duration : 1;
    const std::size_t frames = motion.delays.size();

    // Where each frame stands on the time axis: the sum of the delays before it.
    std::vector<double> frameX(frames);
    long long elapsed = 0;
    for (std::size_t f = 0; f < frames; ++f) {
        frameX[f] = MARGIN_LEFT + plotWidth * static_cast<double>(elapsed) / span;
        elapsed += motion.delays[f];
    }
    auto x_of = [&](std::size_t frame) { return frameX[frame]; };
    const PixelUnits units = pixel_units(frameX, plotWidth);

    std::fprintf(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    std::fprintf(out,
                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                 "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"12\">\n",
                 WIDTH, height, WIDTH, height);
    std::fprintf(out, "<rect x=\"0\" y=\"0\" width=\"%.0f\" height=\"%.0f\" fill=\"white\"/>\n",
                 WIDTH, height);
    std::fprintf(out, "<text x=\"%.0f\" y=\"24\" font-size=\"15\">", MARGIN_LEFT);
    escape_xml(out, title);
    std::fprintf(out, "</text>\n");

    for (int lane = 0; lane < lanes; ++lane) {
        const double top = MARGIN_TOP + lane * (LANE_HEIGHT + LANE_GAP);
        const LaneScale range = lane_scale(motion, lane);
        auto y_of = [&](int value) {
            double v = std::max(range.low, std::min(range.high, static_cast<double>(value)));
            return top + LANE_HEIGHT * (range.high - v) / (range.high - range.low);
        };
        std::fprintf(out,
                     "<g class=\"lane\" data-id=\"%d\" data-top=\"%.2f\" data-bottom=\"%.2f\">\n",
                     header.idList[lane], top, top + LANE_HEIGHT);
        std::fprintf(out,
                     "<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"#f4f6f8\" "
                     "stroke=\"#c0c6cc\"/>\n",
                     MARGIN_LEFT, top, plotWidth, LANE_HEIGHT);
        std::fprintf(out, "<text class=\"label\" x=\"8\" y=\"%.2f\">id %d</text>\n",
                     top + LANE_HEIGHT / 2 + 4, header.idList[lane]);
        if (range.any) {
            const double degrees = static_cast<std::size_t>(lane) < motion.degreesPerStep.size()
                                       ? motion.degreesPerStep[lane]
                                       : 0.0;
            auto scale_label = [&](double y, int value) {
                std::fprintf(out,
                             "<text class=\"scale\" x=\"%.2f\" y=\"%.2f\" font-size=\"9\" "
                             "text-anchor=\"end\">",
                             MARGIN_LEFT - 4, y);
                if (degrees > 0)
                    std::fprintf(out, "%.1f\xC2\xB0</text>\n", value * degrees);
                else
                    std::fprintf(out, "%d</text>\n", value);
            };
            scale_label(top + 9, range.highest);
            scale_label(top + LANE_HEIGHT, range.lowest);
        }
        if (header.relativePositions && range.low <= 0 && range.high >= 0)
            std::fprintf(out,
                         "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#c0c6cc\" "
                         "stroke-dasharray=\"4 3\"/>\n",
                         MARGIN_LEFT, y_of(0), MARGIN_LEFT + plotWidth, y_of(0));

        // Runs of converted values are joined by lines; a value that did not convert breaks the
        // run, drawn or not.
        const std::vector<bool> drawn = drawn_frames(motion, lane, units);
        std::string run;
        auto flush_run = [&]() {
            if (!run.empty())
                std::fprintf(out,
                             "<polyline fill=\"none\" stroke=\"#1f5fa8\" stroke-width=\"1.2\" "
                             "points=\"%s\"/>\n",
                             run.c_str());
            run.clear();
        };
        for (std::size_t f = 0; f < frames; ++f) {
            int value = motion.positions[f][static_cast<std::size_t>(lane)];
            if (value == FRAME_BAD_VALUE) {
                flush_run();
                continue;
            }
            if (!drawn[f])
                continue;
            char point[64];
            std::snprintf(point, sizeof point, "%s%.2f,%.2f", run.empty() ? "" : " ", x_of(f),
                          y_of(value));
            run += point;
        }
        flush_run();
        for (std::size_t f = 0; f < frames; ++f) {
            int value = motion.positions[f][static_cast<std::size_t>(lane)];
            if (!drawn[f])
                continue;
            if (value == FRAME_BAD_VALUE)
                std::fprintf(out,
                             "<rect class=\"unread\" x=\"%.2f\" y=\"%.2f\" width=\"4\" "
                             "height=\"12\" fill=\"red\"/>\n",
                             x_of(f) - 2, top + LANE_HEIGHT / 2 - 6);
            else
                std::fprintf(out,
                             "<circle class=\"point\" cx=\"%.2f\" cy=\"%.2f\" r=\"1.6\" "
                             "fill=\"#1f5fa8\"/>\n",
                             x_of(f), y_of(value));
        }
        std::fprintf(out, "</g>\n");
    }

    // Time axis, in seconds.
    const double axisY = MARGIN_TOP + lanes * (LANE_HEIGHT + LANE_GAP);
    std::fprintf(out, "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"black\"/>\n",
                 MARGIN_LEFT, axisY, MARGIN_LEFT + plotWidth, axisY);
    const double seconds = duration / 1000.0;
    const double step = tick_step(seconds);
    for (int i = 0; i * step <= seconds + 1e-9 && i <= 100; ++i) {
        double x = MARGIN_LEFT + plotWidth * (i * step * 1000.0) / span;
        std::fprintf(out,
                     "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"black\"/>\n",
                     x, axisY, x, axisY + 5);
        std::fprintf(out, "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\">%g</text>\n", x,
                     axisY + 18, i * step);
    }
    std::fprintf(out, "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"end\">time (s)</text>\n",
                 MARGIN_LEFT + plotWidth, axisY + 34);
    std::fprintf(out, "</svg>\n");
    return std::fflush(out) == 0 && !std::ferror(out);
}
