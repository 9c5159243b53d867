// Metric families as a page in one of the two text formats Prometheus reads:
// OpenMetrics 1.0 (what Prometheus asks for first) and the classic text
// format 0.0.4 (what other readers and a plain request get).
//
// The two differ where a counter is named and in their escapes:
// - OpenMetrics declares a counter "x" whose samples are "x_total", escapes
//   a backslash, a double quote and a line end in help texts and label
//   values alike, and ends with "# EOF";
// - the classic format declares the samples' own name "x_total", escapes
//   only a backslash and a line end in help texts, and has no end marker.
// A CR LF pair or a lone CR is one line end in both.
#pragma once

#include <string>
#include <vector>

#include "MetricFamilies.h"

namespace exporter {

enum class TextFormat { OpenMetrics, Classic };

std::string renderPage(const std::vector<MetricFamily> &families, TextFormat format);

// The content type of a page in that format.
const char *contentType(TextFormat format);

}  // namespace exporter
