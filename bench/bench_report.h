// The bench's table: one row per figure with its model value and their ratio, then one
// SUMMARY line of key=value pairs for scripts.
#ifndef BENCH_REPORT_H
#define BENCH_REPORT_H

#include <string>
#include <vector>

namespace bench {

// Adds a row. A model of 0 or less shows no ratio.
void report_row(const std::string& figure, double measured, double model, const std::string& unit);
// Adds a line of explanation under the table.
void report_note(const std::string& text);
// Adds a key to the SUMMARY line; `digits` after the decimal point.
void report_summary(const std::string& key, double value, int digits);
// Prints the table, the notes and the SUMMARY line on standard output.
void print_report();

// Median of the samples (the middle one, or the mean of the two middle ones); 0 when empty.
double median(std::vector<double> samples);
// The p-th percentile (0..100) by nearest rank; 0 when empty.
double percentile(std::vector<double> samples, double p);

} // namespace bench

#endif
