// Real streams: files that cjpeg, jpegtran and exiftool made or describe, and the corpus.
#include "parse_helpers.h"
#include "tool_files.h"

#include <gtest/gtest.h>

namespace {
}  // namespace
