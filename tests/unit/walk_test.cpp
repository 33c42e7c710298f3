// The pipeline's rule for starting.
#include <gtest/gtest.h>

#include "scan/pipeline.h"

namespace {

using namespace std::chrono_literals;

TEST(Pipeline, ThreeSlowFilesInARowStartIt) {
    StartRule rule;
    EXPECT_FALSE(countSample(rule, 1ms));
    EXPECT_FALSE(countSample(rule, 1ms));
    EXPECT_FALSE(countSample(rule, 5us));  // the run of slow files ends
    EXPECT_FALSE(countSample(rule, 200us));
    EXPECT_FALSE(countSample(rule, 200us));
    EXPECT_TRUE(countSample(rule, 200us));
    StartRule warm;
    for (int i = 0; i < 10; ++i) {
        EXPECT_FALSE(countSample(warm, 20us));
    }
}

}  // namespace
