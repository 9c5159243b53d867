#include "TextFormat.h"

namespace exporter {
namespace {

// `text` with a backslash and a line end escaped, and a double quote where
// `quotes` says so.
std::string escaped(const std::string &text, bool quotes) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size(); ++at) {
    char c = text[at];
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"' && quotes) {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\n";
      if (at + 1 < text.size() && text[at + 1] == '\n') ++at;
    } else {
      out += c;
    }
  }
  return out;
}

void appendLabels(std::string &page, const Metric &metric) {
  if (metric.labels.empty()) return;
  page += '{';
  for (size_t at = 0; at < metric.labels.size(); ++at) {
    if (at != 0) page += ',';
    page += metric.labels[at].first;
    page += "=\"";
    page += escaped(metric.labels[at].second, true);
    page += '"';
  }
  page += '}';
}

}  // namespace

std::string renderPage(const std::vector<MetricFamily> &families, TextFormat format) {
  const bool openMetrics = format == TextFormat::OpenMetrics;
  std::string page;
  for (const MetricFamily &family : families) {
    const bool counter = family.type == MetricType::Counter;
    const std::string sample = counter ? family.name + "_total" : family.name;
    const std::string &declared = openMetrics ? family.name : sample;
    page += "# HELP " + declared + " " + escaped(family.help, openMetrics) + "\n";
    page += "# TYPE " + declared + (counter ? " counter\n" : " gauge\n");
    for (const Metric &metric : family.metrics) {
      page += sample;
      appendLabels(page, metric);
      page += ' ';
      page += metric.value;
      page += '\n';
    }
  }
  if (openMetrics) page += "# EOF\n";
  return page;
}

const char *contentType(TextFormat format) {
  return format == TextFormat::OpenMetrics ? "application/openmetrics-text; version=1.0.0; charset=utf-8"
                                           : "text/plain; version=0.0.4; charset=utf-8";
}

}  // namespace exporter
