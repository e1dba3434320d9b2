// frameplot: see a motion before the robot plays it. Reads a frame file with the same
// reader as playback, prints a summary and draws every kept servo's positions as SVG.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "arguments.h"
#include "comment_line.h"
#include "motion.h"
#include "registers.h"
#include "svg_plot.h"

static const char USAGE[] = "usage: frameplot <frameFileName> [<idStart> <idEnd>] [-o <out.svg>]\n";
static const int DEFAULT_ID_START = 0;
static const int DEFAULT_ID_END = 31;

static const char* frameFileName = NULL;
static const char* outputName = NULL;
static int idStart = DEFAULT_ID_START;
static int idEnd = DEFAULT_ID_END;

// "-o NAME" may stand anywhere; the other arguments are positional.
static bool parse_arguments(int argc, char** argv)
{
    const char* positional[3] = {NULL, NULL, NULL};
    int count = 0;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "-o") == 0) {
            if (k + 1 >= argc)
                return false;
            outputName = argv[++k];
        } else if (count < 3) {
            positional[count++] = argv[k];
        }
    }
    if (count < 1 || positional[0][0] == '\0' || std::strlen(positional[0]) > FRAME_FILE_NAME_MAX)
        return false;
    if (outputName && outputName[0] == '\0')
        return false;
    frameFileName = positional[0];
    // An id must be a whole number: "1x" or "one" is refused, not read as 1 or 0.
    for (int k = 1; k < count; ++k) {
        if (!arg_is_number(positional[k]))
            return false;
    }
    if (count >= 2)
        idStart = arg_to_int(positional[1]);
    if (count >= 3)
        idEnd = arg_to_int(positional[2]);
    return in_range(idStart, 0, ID_ARGUMENT_MAX) && in_range(idEnd, 0, ID_ARGUMENT_MAX);
}

// The frame file's name with a final ".csv" replaced by ".svg", else with ".svg" added.
static std::string default_output_name(const char* name)
{
    std::string out(name);
    const std::string csv = ".csv";
    if (out.size() >= csv.size() && out.compare(out.size() - csv.size(), csv.size(), csv) == 0)
        out.erase(out.size() - csv.size());
    return out + ".svg";
}

// True when `output` names the frame file itself: the same spelling, another one, or a
// symbolic or hard link to it. An output that does not exist yet is another file.
static bool names_the_input(const std::string& output)
{
    std::error_code error;
    return std::filesystem::equivalent(frameFileName, output, error) && !error;
}

int main(int argc, char** argv)
{
    if (arg_help_or_version(argc, argv, "frameplot", USAGE))
        return 0;
    std::printf("%s", USAGE);
    if (!parse_arguments(argc, argv)) {
        std::printf("bad args!\n");
        return 1;
    }
    std::string svgName = outputName ? std::string(outputName) : default_output_name(frameFileName);
    if (names_the_input(svgName)) {
        std::fprintf(stderr,
                     "frameplot: '%s' is the frame file itself; give -o another file for the "
                     "plot\n",
                     svgName.c_str());
        return 1;
    }
    std::FILE* file = open_frame_file(frameFileName);
    if (!file) {
        std::printf("ERROR: Couldn't open file '%s' for reading positions!\n", frameFileName);
        return 1;
    }
    static Motion motion;
    static MotionComment comment;
    int commentLine = 0;
    bool hasComment = find_motion_comment(file, &comment, &commentLine) == 1;
    MotionResult result = load_motion(file, frameFileName, idStart, idEnd, &motion);
    std::fclose(file);
    // A motiontape file names each column's model: its lanes are labelled in degrees.
    for (int column = 0; hasComment && column < motion.header.columnCount; ++column) {
        if (motion.header.columnKept[column])
            motion.degreesPerStep.push_back(
                column < comment.modelCount ? model_degrees_per_step(comment.models[column]) : 0);
    }
    if (result == MOTION_BAD_HEADER)
        return 1;

    print_summary(motion);
    std::FILE* svg = std::fopen(svgName.c_str(), "w");
    if (!svg) {
        int reason = errno;
        std::printf("ERROR: Couldn't write the plot to '%s'!\n", svgName.c_str());
        // Beside the frame file is where the plot goes unless told: an installed sample's
        // folder is not the user's to write.
        if (!outputName)
            std::printf("%s; give -o <out.svg> to write the plot elsewhere.\n",
                        std::strerror(reason));
        return 1;
    }
    bool written = write_svg(svg, motion, frameFileName);
    if (std::fclose(svg) != 0)
        written = false;
    if (!written) {
        std::printf("ERROR: Couldn't write the plot to '%s'!\n", svgName.c_str());
        return 1;
    }
    std::printf("Plot written to '%s'.\n", svgName.c_str());
    return result == MOTION_COMPLETE ? 0 : 1;
}
