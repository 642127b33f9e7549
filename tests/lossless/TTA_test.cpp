// True Audio specifics: float layout, unknown size, tags, streams, windows through the seek
// table, damaged files.
#include <gtest/gtest.h>

#include "audio/AuTTA.h"
#include "audio/AudioTestUtil.h"
#include "common/TestFiles.h"
#include "lossless/LosslessTestUtil.h"

using namespace lossless;
using testfiles::TempDir;

namespace {

}  // namespace
