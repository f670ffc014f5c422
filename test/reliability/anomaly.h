// The anomaly loop: run a document's whole road once counting the failure points it passes, then
// once more for every point with exactly that point failing, and check each run. The points come
// from counting, so a new call site is covered without anyone listing it. The host's points
// (Allocate and Read) are found and judged here; a platform seam adds its own.
#ifndef QELALTF_TEST_RELIABILITY_ANOMALY_H
#define QELALTF_TEST_RELIABILITY_ANOMALY_H

#include <array>
#include <string>
#include <vector>

#include "qel_document.h"
#include "road.h"

namespace anomaly {

struct SizeCase {
    std::string name;
    road::Document document;
};

// The documents every loop runs: an empty source, an empty text, one 1024-byte block, and a text
// of a few chunks with double-byte characters at its chunk boundaries.
std::vector<SizeCase> SizeCases();
// The lead bytes those texts are written in (code page 932).
const std::array<bool, 256>& LeadBytes();

enum class Kind { kAllocate, kRecognizeRead, kOpenRead, kPlatform };

struct Point {
    Kind kind;
    int n;              // the n-th call of its kind, counted from 1
    int32_t count = 0;  // for a Read: the count it answers
    int how = 0;        // for a platform call: how it fails, as the seam names it
    std::string name;   // for messages
};

// A platform seam's part in a trial, where there is one.
class Platform {
public:
    virtual ~Platform() = default;
    // Forgets what earlier trials counted, and arms the failure when `point` is a platform point.
    virtual void Prepare(const Point* point) = 0;
    virtual int Calls() = 0;
};

// What one run of the road left.
struct Trial {
    road::Outcome outcome;
    std::vector<std::string> files;  // left in the run's temporary directory
    size_t liveBlocks = 0;           // after the host gave back the chunks it owns
    int badReleases = 0;
    int handlesBefore = -1, handlesAfter = -1;
    int allocateCalls = 0, failedAllocations = 0;
    std::vector<int32_t> recognizeCapacities, recognizeResults;
    std::vector<int32_t> openCapacities, openResults;
    size_t openDelivered = 0;
    bool haveJournal = false;
    QelStandInJournal journal = {};
};

// Runs the road of `size` in a temporary directory of its own, with `point` failing (none when null).
Trial RunTrial(const AddinInterface& addin, const SizeCase& size, const Point* point, Platform* platform);

// Every Allocate and every Read of `baseline`, each Read as a failure (-1), a count past its
// capacity, and one byte short when it delivered any.
std::vector<Point> HostPoints(const Trial& baseline);

// The road without failures: recognised, the whole text, nothing left. With `leadBytes` (the
// table the add-in's platform answers from), the chunks are judged too.
void CheckBaseline(const SizeCase& size, const Trial& trial, const std::array<bool, 256>* leadBytes,
                   road::Violations* out);
// The answers of a run with the host point `point` failing.
void CheckHostPoint(const SizeCase& size, const Trial& baseline, const Point& point, const Trial& trial,
                    const std::array<bool, 256>* leadBytes, road::Violations* out);
// Nothing left behind: no file but those in `allowedFiles`, every block back, no handle open, and
// the conversion library never called with a file at the text path.
void CheckNothingLeft(const Trial& trial, const std::vector<std::string>& allowedFiles, road::Violations* out);

// The figures of one size's loop.
struct Tally {
    int allocate = 0, read = 0, platform = 0;
    int leftoverFiles = 0;          // files left that no failed DeleteFileA explains
    int keptByFailedDeletes = 0;    // the file whose deletion was failed, left as it must be
    size_t leakedBlocks = 0;
    int leakedHandles = 0;
    void Add(const Point& point, const Trial& trial, const std::vector<std::string>& allowedFiles);
    std::string Summary(const SizeCase& size) const;
};

}  // namespace anomaly

#endif
