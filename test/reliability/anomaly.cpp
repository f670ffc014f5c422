#include "anomaly.h"

#include <algorithm>
#include <sstream>

#include "addin_module.h"
#include "fake_host.h"
#include "temp_dir.h"

namespace anomaly {
namespace {

constexpr size_t kChunkRead = ADDIN_MAX_CHUNK - 1;

template <typename... Parts>
void Report(road::Violations* out, const Parts&... parts) {
    std::ostringstream line;
    (line << ... << parts);
    out->push_back(line.str());
}

// A few chunks of text, written in code page 932 where it meets the chunk boundaries: the first
// full read ends on a lead byte (the chunk is completed by its trail byte), the second on a
// character whose trail byte has a lead byte's value (the chunk is not extended).
std::string FewChunksText() {
    std::string text(3 * kChunkRead + 700, ' ');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
    text[kChunkRead - 1] = '\x82';
    text[kChunkRead] = '\xA0';
    const size_t second = ADDIN_MAX_CHUNK + kChunkRead;  // one past the second chunk's full read
    text[second - 2] = '\x82';
    text[second - 1] = '\x82';
    return text;
}

int32_t Recognition(const road::Document& document, int32_t count) {
    if (count < 0 || count > 100) return 0;
    const std::string bytes = document.Bytes().substr(0, static_cast<size_t>(count));
    if (document.raw || bytes.size() < QEL_MAGIC_LENGTH || bytes.compare(0, QEL_MAGIC_LENGTH, QEL_MAGIC) != 0) return 0;
    return document.answer.value_or(1) != 0 ? 1 : 0;
}

void CheckAnsweredAsBaseline(const Trial& baseline, const Trial& trial, road::Violations* out) {
    if (trial.outcome.text != baseline.outcome.text || trial.outcome.chunkLengths != baseline.outcome.chunkLengths) {
        Report(out, "the text came as ", trial.outcome.text.size(), " bytes in ", trial.outcome.chunkLengths.size(),
               " chunks; without failures it is ", baseline.outcome.text.size(), " bytes in ",
               baseline.outcome.chunkLengths.size());
    }
}

}  // namespace

std::vector<SizeCase> SizeCases() {
    std::vector<SizeCase> cases(4);
    cases[0].name = "empty source";
    cases[0].document.raw = std::string();
    cases[1].name = "empty text";
    cases[2].name = "one 1024-byte block";
    cases[2].document.payload = std::string(1024 - QEL_MAGIC_LENGTH - 1, 'b');
    cases[3].name = "a few chunks";
    cases[3].document.payload = FewChunksText();
    return cases;
}

const std::array<bool, 256>& LeadBytes() {
    static const std::array<bool, 256> table = [] {
        std::array<bool, 256> lead{};
        for (int b = 0; b < 256; ++b) lead[b] = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        return lead;
    }();
    return table;
}

Trial RunTrial(const AddinInterface& addin, const SizeCase& size, const Point* point, Platform* platform) {
    temp_dir::ScopedTempDir directory;
    if (platform != nullptr) platform->Prepare(point);
    addin_module::ResetJournal();

    fake_host::CountingAllocator allocator;
    std::vector<int32_t> recognizeScript, openScript;
    if (point != nullptr && point->kind == Kind::kAllocate) allocator.FailAllocationAt(point->n);
    if (point != nullptr && point->kind == Kind::kRecognizeRead) recognizeScript.assign(1, point->count);
    if (point != nullptr && point->kind == Kind::kOpenRead) {
        // The reads before it deliver what they are asked for, as without failures.
        openScript.assign(static_cast<size_t>(point->n - 1), 1024);
        openScript.push_back(point->count);
    }
    const std::string bytes = size.document.Bytes();
    fake_host::ScriptedSource recognizeSource(bytes, recognizeScript);
    fake_host::ScriptedSource openSource(bytes, openScript);
    road::Host host{&allocator, &recognizeSource, &openSource, {}};
    if (platform != nullptr) host.platformCalls = [platform] { return platform->Calls(); };

    Trial trial;
    trial.handlesBefore = road::OpenHandles();
    trial.outcome = road::Run(addin, host, road::MaxReadsFor(bytes.size()));
    trial.handlesAfter = road::OpenHandles();
    trial.files = directory.Files();
    trial.liveBlocks = allocator.liveBlocks();
    trial.badReleases = allocator.badReleases();
    trial.allocateCalls = allocator.allocateCalls();
    trial.failedAllocations = allocator.failedAllocations();
    trial.recognizeCapacities = recognizeSource.capacities();
    trial.recognizeResults = recognizeSource.results();
    trial.openCapacities = openSource.capacities();
    trial.openResults = openSource.results();
    trial.openDelivered = openSource.delivered();
    trial.haveJournal = addin_module::ReadJournal(&trial.journal);
    return trial;
}

std::vector<Point> HostPoints(const Trial& baseline) {
    std::vector<Point> points;
    for (int n = 1; n <= baseline.allocateCalls; ++n) {
        points.push_back(Point{Kind::kAllocate, n, 0, 0, "Allocate #" + std::to_string(n) + " answers null"});
    }
    const auto addReads = [&points](Kind kind, const char* which, const std::vector<int32_t>& capacities,
                                    const std::vector<int32_t>& results) {
        for (size_t i = 0; i < capacities.size(); ++i) {
            const int n = static_cast<int>(i + 1);
            const std::string name = std::string(which) + " Read #" + std::to_string(n);
            points.push_back(Point{kind, n, -1, 0, name + " fails (-1)"});
            points.push_back(Point{kind, n, capacities[i] + 1, 0, name + " answers its capacity + 1"});
            if (results[i] > 0) points.push_back(Point{kind, n, results[i] - 1, 0, name + " delivers one byte short"});
        }
    };
    addReads(Kind::kRecognizeRead, "Recognize", baseline.recognizeCapacities, baseline.recognizeResults);
    addReads(Kind::kOpenRead, "OpenDocument", baseline.openCapacities, baseline.openResults);
    return points;
}

void CheckBaseline(const SizeCase& size, const Trial& trial, const std::array<bool, 256>* leadBytes,
                   road::Violations* out) {
    const road::Outcome& outcome = trial.outcome;
    if (!outcome.created) return Report(out, "CreateInstance failed without failures");
    const int32_t recognized = Recognition(size.document, static_cast<int32_t>(std::min<size_t>(100, size.document.Bytes().size())));
    if (outcome.recognized != recognized) Report(out, "Recognize answered ", outcome.recognized, ", expected ", recognized);
    const std::optional<std::string> text = size.document.TextOf(size.document.Bytes().size());
    if (text) {
        road::CheckText(outcome, *text, leadBytes, out);
    } else {
        road::CheckNoText(outcome, out);
    }
    if (outcome.closed != 1) Report(out, "CloseDocument answered ", outcome.closed);
    if (outcome.destroyed != 1) Report(out, "DestroyInstance answered ", outcome.destroyed);
    CheckNothingLeft(trial, {}, out);
}

void CheckHostPoint(const SizeCase& size, const Trial& baseline, const Point& point, const Trial& trial,
                    const std::array<bool, 256>* leadBytes, road::Violations* out) {
    const road::Outcome& outcome = trial.outcome;
    const road::Outcome& expected = baseline.outcome;
    switch (point.kind) {
        case Kind::kAllocate: {
            if (trial.failedAllocations != 1) Report(out, "the failing Allocate was not reached");
            // Which entry asked for the block, as the run without failures counted them.
            if (point.n <= expected.openAllocationsBegin) {
                if (outcome.created) Report(out, "CreateInstance gave an instance without its block");
                if (trial.allocateCalls != 1 || !trial.recognizeCapacities.empty() || !trial.openCapacities.empty()) {
                    Report(out, "the host went on without an instance");
                }
                return;
            }
            if (outcome.recognized != expected.recognized) Report(out, "Recognize answered ", outcome.recognized);
            if (point.n <= expected.openAllocationsEnd) {
                if (outcome.opened) Report(out, "OpenDocument gave a state without its block");
                if (!trial.openCapacities.empty()) Report(out, "OpenDocument read the source without a state");
                if (outcome.openEnd != outcome.openBegin) Report(out, "OpenDocument made platform calls without a state");
            } else {
                size_t failedCall = 0;
                for (size_t i = 0; i < expected.reads.size(); ++i) {
                    if (expected.reads[i].allocationsBegin < point.n && point.n <= expected.reads[i].allocationsEnd) {
                        failedCall = i + 1;
                    }
                }
                if (failedCall == 0) return Report(out, "an Allocate outside every entry that asks for one");
                road::CheckCutAt(outcome, expected, failedCall, true, out);
            }
            break;
        }
        case Kind::kRecognizeRead: {
            const int32_t recognized = Recognition(size.document, point.count);
            if (outcome.recognized != recognized) Report(out, "Recognize answered ", outcome.recognized, ", expected ", recognized);
            if (trial.recognizeCapacities.size() != 1) Report(out, "Recognize read ", trial.recognizeCapacities.size(), " times");
            if (trial.haveJournal && point.count >= 0 && point.count <= 100 && trial.journal.lastRecognizeCount != point.count) {
                Report(out, "the library was given ", trial.journal.lastRecognizeCount, " bytes to recognise");
            }
            CheckAnsweredAsBaseline(baseline, trial, out);
            break;
        }
        case Kind::kOpenRead: {
            if (outcome.recognized != expected.recognized) Report(out, "Recognize answered ", outcome.recognized);
            if (static_cast<int>(trial.openCapacities.size()) != point.n) {
                Report(out, "OpenDocument read ", trial.openCapacities.size(), " times; a count below 1024 ends the document");
            }
            const bool outOfContract = point.count < 0 || point.count > 1024;
            if (outOfContract) {
                if (trial.haveJournal && trial.journal.convertCalls != 0) Report(out, "a broken source was converted");
                road::CheckNoText(outcome, out);
            } else {
                const std::optional<std::string> text = size.document.TextOf(trial.openDelivered);
                if (text) {
                    road::CheckText(outcome, *text, leadBytes, out);
                } else {
                    road::CheckNoText(outcome, out);
                }
            }
            break;
        }
        case Kind::kPlatform:
            return Report(out, "a platform point is the seam's to judge");
    }
    if (outcome.opened && outcome.closed != 1) Report(out, "CloseDocument answered ", outcome.closed);
    if (outcome.created && outcome.destroyed != 1) Report(out, "DestroyInstance answered ", outcome.destroyed);
}

void CheckNothingLeft(const Trial& trial, const std::vector<std::string>& allowedFiles, road::Violations* out) {
    for (const std::string& file : trial.files) {
        if (std::find(allowedFiles.begin(), allowedFiles.end(), file) == allowedFiles.end()) {
            Report(out, "file ", file, " left in the temporary directory");
        }
    }
    if (trial.liveBlocks != 0) Report(out, trial.liveBlocks, " blocks the add-in took were not given back");
    if (trial.badReleases != 0) Report(out, trial.badReleases, " releases of blocks that were not live");
    if (trial.handlesAfter != trial.handlesBefore) {
        Report(out, "open handles went from ", trial.handlesBefore, " to ", trial.handlesAfter);
    }
    if (trial.haveJournal && trial.journal.textPathExistedCalls != 0) {
        Report(out, "the conversion library was called with a file at the text path");
    }
}

void Tally::Add(const Point& point, const Trial& trial, const std::vector<std::string>& allowedFiles) {
    switch (point.kind) {
        case Kind::kAllocate: ++allocate; break;
        case Kind::kRecognizeRead:
        case Kind::kOpenRead: ++read; break;
        case Kind::kPlatform: ++platform; break;
    }
    for (const std::string& file : trial.files) {
        if (std::find(allowedFiles.begin(), allowedFiles.end(), file) == allowedFiles.end()) {
            ++leftoverFiles;
        } else {
            ++keptByFailedDeletes;
        }
    }
    leakedBlocks += trial.liveBlocks;
    if (trial.handlesAfter > trial.handlesBefore) leakedHandles += trial.handlesAfter - trial.handlesBefore;
}

std::string Tally::Summary(const SizeCase& size) const {
    std::ostringstream line;
    line << "anomaly loop, " << size.name << " (" << size.document.Bytes().size() << " bytes): "
         << allocate + read + platform << " points injected (" << allocate << " Allocate, " << read << " Read, "
         << platform << " platform); " << leftoverFiles << " leftover files, " << leakedBlocks << " leaked blocks, "
         << leakedHandles << " leaked handles; " << keptByFailedDeletes
         << " files kept by a failed DeleteFileA";
    return line.str();
}

}  // namespace anomaly
