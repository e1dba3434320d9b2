// Frame files as hand editors and spreadsheets leave them: header and lines read together,
// the way playback reads them. The first two bytes pick the id range.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "frame_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static bool quiet = false;
    if (!quiet) {
        // The reader prints warnings on standard output; they are not what is tested here.
        quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
    }
    if (size < 2)
        return 0;
    int idStart = data[0], idEnd = data[1];
    std::FILE* file = std::tmpfile();
    if (!file)
        return 0;
    std::fwrite(data + 2, 1, size - 2, file);
    std::rewind(file);
    static FrameHeader header;
    if (read_frame_header(file, idStart, idEnd, "fuzz.csv", &header) == FRAME_HEADER_OK) {
        static int startPositions[FRAME_TOKENS_MAX];
        for (int i = 0; i < FRAME_TOKENS_MAX; ++i)
            startPositions[i] = (i % 3 == 0) ? -1 : 500;
        static FrameText line;
        static FrameLine frame;
        float scales[] = {1.0f, 0.5f, 1e30f};
        int n = 0;
        while (read_text_line(file, line)) {
            if (std::strlen(line) > FRAME_LINE_CHARS_MAX)
                __builtin_trap();
            read_frame_line(line, header, scales[n++ % 3], startPositions, &frame);
            if (frame.posListSize < 0)
                __builtin_trap();
        }
    }
    std::fclose(file);
    return 0;
}
