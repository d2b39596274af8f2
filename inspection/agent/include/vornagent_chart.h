/* The 24-hour report chart: WAN traffic and inspection events per hour as two polylines over a grid,
 * drawn with libgd into a 404 x 225 palette image and written as PNG. Index 0 of each array is the
 * most recent hour. */
#pragma once

#include <stdio.h>

#include <gd.h>

#include "vornagent.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Draws the chart of `wan` (MiB per hour) and `events` (events per hour) and writes it to `file`.
 * Both arrays are scaled in place. 0, or -1 when there is no file or no image could be made. */
VORNAGENT_API int doPaint(FILE *file, int wan[24], int events[24]);

/* One polyline of `count` scaled values (grid rows, clamped to 0..11) in `colour`, thickness 2. */
VORNAGENT_API void paintChart(gdImagePtr image, int values[24], int count, int colour);

/* Scales a series: unit -1 leaves it; otherwise each value is divided by unit, rounded up and capped
 * at 10 rows. */
VORNAGENT_API void adjust(int values[24], int unit);

#ifdef __cplusplus
}
#endif
