// The anomaly loop over every failure point of a document's road, the platform's included: the
// add-in's objects are linked with the platform seam, which counts each of the nine services and
// fails the call it is asked to.
#include <gtest/gtest.h>

#include <cstdio>

#include "addin_test.h"
#include "anomaly.h"
#include "platform_seam.h"

using anomaly::Kind;
using anomaly::Point;
using anomaly::Trial;
using platform_seam::Failure;
using platform_seam::Service;

namespace {

class SeamPlatform : public anomaly::Platform {
public:
    void Prepare(const Point* point) override {
        platform_seam::Reset();
        platform_seam::SetLeadBytes(anomaly::LeadBytes());
        if (point != nullptr && point->kind == Kind::kPlatform) {
            platform_seam::FailCall(point->n, static_cast<Failure>(point->how));
        }
    }
    int Calls() override { return platform_seam::TotalCalls(); }
};

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// Every platform call of a run, each failing with its service's failure result, and the file
// transfers also falling one byte short.
std::vector<Point> PlatformPoints(const std::vector<platform_seam::Call>& log) {
    std::vector<Point> points;
    int perService[platform_seam::kServiceCount] = {};
    for (size_t i = 0; i < log.size(); ++i) {
        const Service service = log[i].service;
        const int n = static_cast<int>(i + 1);
        std::string name = "platform call #" + std::to_string(n) + ", " + platform_seam::NameOf(service) + " #" +
                           std::to_string(++perService[static_cast<int>(service)]);
        if (!log[i].path.empty()) name += " (" + BaseName(log[i].path) + ")";
        points.push_back(Point{Kind::kPlatform, n, 0, static_cast<int>(Failure::kFail), name + " fails"});
        if (service == Service::WriteFile || service == Service::ReadFile) {
            points.push_back(Point{Kind::kPlatform, n, 0, static_cast<int>(Failure::kShort), name + " falls one byte short"});
        }
    }
    return points;
}

// What a run with platform call `point` failing must answer, found from the entry that made the
// call in the run without failures. `allowedFiles` receives the one file a failed DeleteFileA may
// leave.
void CheckPlatformPoint(const anomaly::SizeCase& size, const Trial& baseline,
                        const std::vector<platform_seam::Call>& baselineLog, const Point& point,
                        const Trial& trial, road::Violations* out, std::vector<std::string>* allowedFiles) {
    const platform_seam::Call& call = baselineLog[static_cast<size_t>(point.n - 1)];
    const std::vector<platform_seam::Call> log = platform_seam::Log();
    if (platform_seam::FailedCalls() != 1 || log.size() < static_cast<size_t>(point.n) ||
        log[static_cast<size_t>(point.n - 1)].service != call.service) {
        out->push_back("the failing call was not reached as it was without failures");
    }
    // Names are the platform's own choice, different in every run: the one kept is this run's.
    if (call.service == Service::DeleteFileA && log.size() >= static_cast<size_t>(point.n)) {
        allowedFiles->push_back(BaseName(log[static_cast<size_t>(point.n - 1)].path));
    }

    const road::Outcome& expected = baseline.outcome;
    const road::Outcome& outcome = trial.outcome;
    if (outcome.recognized != expected.recognized) out->push_back("Recognize answered otherwise");
    if (!outcome.opened) return out->push_back("OpenDocument gave no state");
    if (outcome.closed != 1) out->push_back("CloseDocument answered " + std::to_string(outcome.closed));
    if (outcome.destroyed != 1) out->push_back("DestroyInstance answered " + std::to_string(outcome.destroyed));

    const std::optional<std::string> text = size.document.TextOf(size.document.Bytes().size());
    const auto asWithoutFailures = [&](const std::array<bool, 256>* leadBytes) {
        if (text) {
            road::CheckText(outcome, *text, leadBytes, out);
        } else {
            road::CheckNoText(outcome, out);
        }
    };

    if (expected.openBegin < point.n && point.n <= expected.openEnd) {
        // Two calls can fail without costing the text: the spool file's deletion after the
        // conversion, and the look for a file at the text path before it (a file that cannot be
        // seen there is as good as none).
        const bool spoolDeletion = call.service == Service::DeleteFileA && BaseName(call.path).rfind("qel", 0) == 0;
        int earlierAttributeCalls = 0;
        for (int i = expected.openBegin; i < point.n - 1; ++i) {
            if (baselineLog[static_cast<size_t>(i)].service == Service::GetFileAttributesA) ++earlierAttributeCalls;
        }
        const bool textPathLook = call.service == Service::GetFileAttributesA && earlierAttributeCalls == 0;
        if (spoolDeletion || textPathLook) {
            asWithoutFailures(&anomaly::LeadBytes());
        } else {
            road::CheckNoText(outcome, out);
        }
        return;
    }
    if (expected.closeBegin < point.n && point.n <= expected.closeEnd) return asWithoutFailures(&anomaly::LeadBytes());
    for (size_t i = 0; i < expected.reads.size(); ++i) {
        const road::TextCall& read = expected.reads[i];
        if (point.n <= read.platformBegin || point.n > read.platformEnd) continue;
        // The first call of ReadText is its read of the next piece; a failure there is reported.
        // Any other failure (a short read, the completing read, a lead-byte answer) may move a
        // chunk boundary but loses nothing.
        if (point.n == read.platformBegin + 1 && call.service == Service::ReadFile &&
            point.how == static_cast<int>(Failure::kFail)) {
            road::CheckCutAt(outcome, expected, i + 1, false, out);
        } else {
            asWithoutFailures(nullptr);
        }
        return;
    }
    out->push_back("a platform call outside the entries that make them");
}

std::string Lines(const road::Violations& violations) {
    std::string all;
    for (const std::string& line : violations) all += "\n  " + line;
    return all;
}

class AnomalyLoop : public platform_seam::WithPlatformSeam<AddinTest> {};

TEST_F(AnomalyLoop, EveryFailurePointOfTheRoadIsAnsweredAndLeavesNothingBehind) {
    SeamPlatform platform;
    for (const anomaly::SizeCase& size : anomaly::SizeCases()) {
        SCOPED_TRACE(size.name);
        const Trial baseline = anomaly::RunTrial(addin(), size, nullptr, &platform);
        const std::vector<platform_seam::Call> baselineLog = platform_seam::Log();
        road::Violations violations;
        anomaly::CheckBaseline(size, baseline, &anomaly::LeadBytes(), &violations);
        ASSERT_TRUE(violations.empty()) << size.name << " without failures:" << Lines(violations);

        std::vector<Point> points = anomaly::HostPoints(baseline);
        const std::vector<Point> platformPoints = PlatformPoints(baselineLog);
        points.insert(points.end(), platformPoints.begin(), platformPoints.end());

        anomaly::Tally tally;
        for (const Point& point : points) {
            const Trial trial = anomaly::RunTrial(addin(), size, &point, &platform);
            road::Violations found;
            std::vector<std::string> allowedFiles;
            if (point.kind == Kind::kPlatform) {
                CheckPlatformPoint(size, baseline, baselineLog, point, trial, &found, &allowedFiles);
            } else {
                anomaly::CheckHostPoint(size, baseline, point, trial, &anomaly::LeadBytes(), &found);
            }
            anomaly::CheckNothingLeft(trial, allowedFiles, &found);
            EXPECT_TRUE(found.empty()) << size.name << ", " << point.name << ":" << Lines(found);
            tally.Add(point, trial, allowedFiles);
        }
        std::printf("%s\n", tally.Summary(size).c_str());
        EXPECT_GT(tally.platform, 0) << "the seam counted no platform call";
        EXPECT_EQ(tally.leftoverFiles, 0);
        EXPECT_EQ(tally.leakedBlocks, 0u);
        EXPECT_EQ(tally.leakedHandles, 0);
    }
}

}  // namespace
