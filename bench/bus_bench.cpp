// bus_bench: how close the kit comes to what the wire allows. Runs the real programs and
// the real serial path against servosim (and, for playback, against a timestamping peer)
// and prints one table row per figure with its model value and their ratio, then one
// SUMMARY line. Takes about a minute and a half. The adapter part runs in the process,
// through the simulated chain's model of a USB adapter's chip.
//
//   bus_bench [all | sim | exchange | scan | rec | play | servoscan | adapter | motiontape] ...
#include <cstdio>
#include <cstring>

#include "adapter_bench.h"
#include "bench_report.h"
#include "exchange_bench.h"
#include "motiontape_bench.h"
#include "play_bench.h"
#include "posetape_bench.h"
#include "sim_accuracy.h"

// The machine's load average (one minute), or -1 where it cannot be read: a busy
// machine delays every wake-up, and the figures with it.
static double load_average()
{
    double load = -1;
    if (FILE* in = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(in, "%lf", &load) != 1)
            load = -1;
        std::fclose(in);
    }
    return load;
}

static bool wanted(int argc, char** argv, const char* part)
{
    if (argc < 2)
        return true;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "all") == 0 || std::strcmp(argv[i], part) == 0)
            return true;
    return false;
}

int main(int argc, char** argv)
{
    static const char* const parts[] = {"all",  "sim",       "exchange", "scan",      "rec",
                                        "play", "servoscan", "adapter",  "motiontape"};
    for (int i = 1; i < argc; ++i) {
        bool known = false;
        for (const char* part : parts)
            known = known || std::strcmp(argv[i], part) == 0;
        if (!known) {
            std::fprintf(stderr,
                         "usage: bus_bench [all | sim | exchange | scan | rec | play | servoscan | "
                         "adapter | motiontape] ...\n");
            return 2;
        }
    }
    const double load_before = load_average();
    if (wanted(argc, argv, "sim"))
        bench::run_sim_accuracy();
    if (wanted(argc, argv, "exchange"))
        bench::run_exchange_bench();
    if (wanted(argc, argv, "scan"))
        bench::run_scan_bench();
    if (wanted(argc, argv, "rec"))
        bench::run_recording_bench();
    if (wanted(argc, argv, "play"))
        bench::run_play_bench();
    if (wanted(argc, argv, "servoscan"))
        bench::run_servoscan_bench();
    if (wanted(argc, argv, "adapter"))
        bench::run_adapter_bench();
    if (wanted(argc, argv, "motiontape"))
        bench::run_motiontape_bench();
    char note[120];
    std::snprintf(note, sizeof note, "load average (1 min) at the start %.2f, at the end %.2f",
                  load_before, load_average());
    bench::report_note(note);
    bench::print_report();
    return 0;
}
