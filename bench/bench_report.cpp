#include "bench_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace bench {

namespace {

struct Row {
    std::string figure;
    double measured;
    double model;
    std::string unit;
};

std::vector<Row> rows;
std::vector<std::string> notes;
std::string summary;

} // namespace

void report_row(const std::string& figure, double measured, double model, const std::string& unit)
{
    rows.push_back({figure, measured, model, unit});
    // Rows appear as they are measured, so a long run shows progress on standard error.
    std::fprintf(stderr, "bench: %-40s %10.3f %s\n", figure.c_str(), measured, unit.c_str());
}

void report_note(const std::string& text) { notes.push_back(text); }

void report_summary(const std::string& key, double value, int digits)
{
    char text[64];
    std::snprintf(text, sizeof text, "%s=%.*f", key.c_str(), digits, value);
    if (!summary.empty())
        summary += ' ';
    summary += text;
}

void print_report()
{
    std::printf("%-42s %12s %12s %8s  %s\n", "figure", "measured", "model", "ratio", "unit");
    for (const Row& row : rows) {
        char ratio[32] = "-";
        if (row.model > 0)
            std::snprintf(ratio, sizeof ratio, "%.3f", row.measured / row.model);
        std::printf("%-42s %12.3f %12.3f %8s  %s\n", row.figure.c_str(), row.measured, row.model,
                    ratio, row.unit.c_str());
    }
    for (const std::string& note : notes)
        std::printf("  %s\n", note.c_str());
    std::printf("SUMMARY %s\n", summary.c_str());
    std::fflush(stdout);
}

double median(std::vector<double> samples)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    return n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

double percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    std::size_t rank = static_cast<std::size_t>(std::ceil(p / 100.0 * samples.size()));
    if (rank < 1)
        rank = 1;
    if (rank > samples.size())
        rank = samples.size();
    return samples[rank - 1];
}

} // namespace bench
