// The anomaly loop over the failure points a host alone can drive (every Allocate, every Read), on
// the module a host loads: natively and, in the Windows build, QELALTF.dll under Wine.
#include <gtest/gtest.h>

#include <cstdio>

#include "addin_test.h"
#include "anomaly.h"

namespace {

std::string Lines(const road::Violations& violations) {
    std::string all;
    for (const std::string& line : violations) all += "\n  " + line;
    return all;
}

using HostAnomalyLoop = AddinTest;

TEST_F(HostAnomalyLoop, EveryAllocateAndReadOfTheRoadIsAnsweredAndLeavesNothingBehind) {
    for (const anomaly::SizeCase& size : anomaly::SizeCases()) {
        SCOPED_TRACE(size.name);
        // The module answers lead bytes from the system's code page, so chunk sizes are not judged.
        const anomaly::Trial baseline = anomaly::RunTrial(addin(), size, nullptr, nullptr);
        road::Violations violations;
        anomaly::CheckBaseline(size, baseline, nullptr, &violations);
        ASSERT_TRUE(violations.empty()) << size.name << " without failures:" << Lines(violations);

        anomaly::Tally tally;
        for (const anomaly::Point& point : anomaly::HostPoints(baseline)) {
            const anomaly::Trial trial = anomaly::RunTrial(addin(), size, &point, nullptr);
            road::Violations found;
            anomaly::CheckHostPoint(size, baseline, point, trial, nullptr, &found);
            anomaly::CheckNothingLeft(trial, {}, &found);
            EXPECT_TRUE(found.empty()) << size.name << ", " << point.name << ":" << Lines(found);
            tally.Add(point, trial, {});
        }
        std::printf("%s\n", tally.Summary(size).c_str());
        EXPECT_EQ(tally.leftoverFiles, 0);
        EXPECT_EQ(tally.leakedBlocks, 0u);
        EXPECT_EQ(tally.leakedHandles, 0);
    }
}

}  // namespace
