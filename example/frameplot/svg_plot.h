// Draws a motion as SVG: one lane per servo, position over time.
#ifndef FRAMEPLOT_SVG_PLOT_H
#define FRAMEPLOT_SVG_PLOT_H

#include <cstdio>

#include "motion.h"

// Writes the whole document; false when the file could not take it.
bool write_svg(std::FILE* out, const Motion& motion, const char* title);

#endif
