// A performance data block as an OpenMetrics text page, the exposition format
// Prometheus scrapes.
//
// Every counter of every object is one metric family named
// "perf_<object>_<counter>" after the installed names ("Counter 009"), or
// after the index where no name is installed ("#10000" gives "10000"). Names
// are lower case; each run of characters outside [a-z0-9_] becomes one "_"
// (a colon too: Prometheus keeps colons for recording rules). When two
// families would claim the same name, or a name another family's samples use
// ("x_total" of a counter "x"), the later one in the block takes the first
// free "_2", "_3"... so a page names the same data the same way every time.
//
// The values are the raw counter data: PERF_COUNTER_COUNTER and
// PERF_COUNTER_BULK_COUNT, counts that only grow, are of type counter (their
// sample is "<name>_total") and their rate is Prometheus's job; every other
// counter is a gauge. Counters without numeric data (text, zero size) are left
// out. Instances are the label "instance"; an object without instances has
// no label; a name that two instances share gets "#1", "#2"... from its
// second holder on, as the performance monitor shows them.
#pragma once

#include <string>

#include "NameTable.h"
#include "PerfData.h"

namespace exporter {

// The page for `block`, with names and help texts by index, ending in "# EOF".
std::string renderOpenMetrics(const perfdata::DataBlock &block, const perfdata::NameTable &names,
                              const perfdata::NameTable &helpTexts);

// The content type of that page.
extern const char openMetricsContentType[];

}  // namespace exporter
