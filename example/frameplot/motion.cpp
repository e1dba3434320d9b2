#include "motion.h"

#include <cstdlib>

namespace {

const char* type_description(const FrameHeader& header)
{
    if (header.hasSpeeds)
        return header.relativePositions ? "speeds and relative positions"
                                        : "speeds and absolute positions";
    return header.relativePositions ? "relative positions" : "absolute positions";
}

} // namespace

MotionResult load_motion(std::FILE* file, const char* fileName, int idStart, int idEnd,
                         Motion* motion)
{
    if (read_frame_header(file, idStart, idEnd, fileName, &motion->header) != FRAME_HEADER_OK)
        return MOTION_BAD_HEADER;
    const int entries = stored_ids(motion->header);
    // Relative values are plotted as offsets: every start position is 0.
    std::vector<int> startPositions(FRAME_TOKENS_MAX, 0);
    static FrameLine frame;
    while (next_frame_line(file, motion->header, 1.0f, startPositions.data(), &frame)) {
        if (!frame_line_fits(motion->header, frame))
            return MOTION_BAD_LINE;
        motion->delays.push_back(frame.delay);
        motion->positions.emplace_back(frame.positions, frame.positions + entries);
    }
    return MOTION_COMPLETE;
}

long long motion_duration_ms(const Motion& motion)
{
    return frame_time_ms(motion, motion.delays.size());
}

long long frame_time_ms(const Motion& motion, std::size_t index)
{
    long long total = 0;
    for (std::size_t i = 0; i < index && i < motion.delays.size(); ++i)
        total += motion.delays[i];
    return total;
}

ServoSummary summarise_servo(const Motion& motion, int entry)
{
    ServoSummary summary = {FRAME_BAD_VALUE, FRAME_BAD_VALUE, 0, 0};
    bool seen = false;
    bool previousValid = false;
    int previous = 0;
    for (const std::vector<int>& frame : motion.positions) {
        int value = frame[static_cast<std::size_t>(entry)];
        if (value == FRAME_BAD_VALUE) {
            ++summary.unread;
            previousValid = false;
            continue;
        }
        if (!seen || value < summary.lowest)
            summary.lowest = value;
        if (!seen || value > summary.highest)
            summary.highest = value;
        seen = true;
        if (previousValid) {
            long long step = std::llabs(static_cast<long long>(value) - previous);
            if (step > summary.largestStep)
                summary.largestStep = step > 0x7fffffff ? 0x7fffffff : static_cast<int>(step);
        }
        previous = value;
        previousValid = true;
    }
    return summary;
}

void print_summary(const Motion& motion)
{
    const FrameHeader& header = motion.header;
    std::printf("File type: %s\n", type_description(header));
    std::printf("Servos kept: %d (", header.idListSize);
    for (int i = 0; i < stored_ids(header); ++i)
        std::printf(i ? ", %d" : "%d", header.idList[i]);
    std::printf(")\n");
    long long duration = motion_duration_ms(motion);
    std::printf("Frames: %d\n", static_cast<int>(motion.delays.size()));
    std::printf("Duration: %lld ms (%.3f s)\n", duration, static_cast<double>(duration) / 1000.0);
    std::printf("  id  lowest  highest  largest step  unread\n");
    for (int i = 0; i < stored_ids(header); ++i) {
        ServoSummary s = summarise_servo(motion, i);
        if (s.lowest == FRAME_BAD_VALUE)
            std::printf("%4d  %6s  %7s  %12s  %6d\n", header.idList[i], "-", "-", "-", s.unread);
        else
            std::printf("%4d  %6d  %7d  %12d  %6d\n", header.idList[i], s.lowest, s.highest,
                        s.largestStep, s.unread);
    }
}
