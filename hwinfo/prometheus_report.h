// The identity for Prometheus, in the text exposition format that
// node_exporter's textfile collector reads: one info metric whose labels carry
// the texts and code names, and one gauge per code.
#ifndef KORVANTA_HWINFO_PROMETHEUS_REPORT_H
#define KORVANTA_HWINFO_PROMETHEUS_REPORT_H

#include <string>

#include "identity.h"

namespace hwinfo {

// Always a valid exposition, whatever the identity holds; ends with a line feed.
std::string format_prometheus(const Identity& identity);

}  // namespace hwinfo

#endif
