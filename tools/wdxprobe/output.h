// Printing a probe: the plugin's description once, then one file after another, so that
// files can be printed while the next ones are still being probed.
#pragma once

#include "report.h"

#include <iosfwd>
#include <memory>

namespace wdxprobe {

class ReportWriter {
public:
    virtual ~ReportWriter() = default;
    // `plugin` must outlive the writer's use.
    virtual void Begin(const PluginReport& plugin) = 0;
    virtual void File(const FileReport& file) = 0;
    virtual void End() = 0;
};

// Aligned text for people; files that were not probed are left to the error stream.
std::unique_ptr<ReportWriter> MakeTextWriter(std::ostream& out);

// One JSON document with a fixed key order.
std::unique_ptr<ReportWriter> MakeJsonWriter(std::ostream& out);

// How a file fared with the detect string, in words.
const char* DetectionText(Detection detection);

}  // namespace wdxprobe
