// A libFuzzer target for a document's whole road. The input chooses the document (its text, or
// bytes that are no document), the conversion library's answers (through the document's header
// options), the host's script of Read counts (counts outside the contract included), a failing
// Allocate, a failing platform call and the lead-byte table the platform answers from. After each
// road: no file left but the one a failed DeleteFileA could not remove, every block back, no
// descriptor open, the library never called with a file at the text path; when nothing failed,
// the chunks put together are the library's text, cut exactly where a careful reader cuts it.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "addin_module.h"
#include "extract/qeltext.h"
#include "platform_seam.h"
#include "road.h"
#include "temp_dir.h"

using platform_seam::Failure;
using platform_seam::Service;

namespace {

temp_dir::ScopedTempDir* directory = nullptr;

int32_t PickCount(FuzzedDataProvider& in, int32_t capacity) {
    switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0:
        case 1:
        case 2: return capacity;  // what fits
        case 3: return in.ConsumeIntegralInRange<int32_t>(0, capacity);
        case 4: return 0;
        case 5: return -1;
        case 6: return capacity + 1;
        default: return in.ConsumeIntegral<int32_t>();
    }
}

std::array<bool, 256> PickLeadBytes(FuzzedDataProvider& in) {
    static const unsigned kCodePages[] = {932, 936, 949, 950};
    const int choice = in.ConsumeIntegralInRange(0, 5);
    if (choice == 0) return {};
    if (choice <= 4) return platform_seam::LeadBytesOf(kCodePages[choice - 1]);
    std::array<bool, 256> table{};
    for (size_t byte = 0; byte < 256; byte += 8) {
        const uint8_t bits = in.ConsumeIntegral<uint8_t>();
        for (size_t bit = 0; bit < 8; ++bit) table[byte + bit] = (bits >> bit) & 1;
    }
    return table;
}

road::Document PickDocument(FuzzedDataProvider& in) {
    road::Document document;
    const uint8_t shape = in.ConsumeIntegral<uint8_t>();
    if (shape & 1) document.status = (shape & 8) ? in.ConsumeIntegral<int32_t>() : in.ConsumeIntegralInRange(-2, 2);
    if (shape & 2) document.makeText = false;
    if (shape & 4) document.answer = in.ConsumeIntegralInRange(-2, 2);
    // The text is a pattern repeated, so that a small input reaches a few chunks.
    const size_t size = in.ConsumeIntegralInRange<size_t>(0, (shape & 16) ? 40000 : 300);
    std::string pattern = in.ConsumeBytesAsString(in.ConsumeIntegralInRange<size_t>(1, 64));
    if (pattern.empty()) pattern = "a";
    std::string text;
    while (text.size() < size) text += pattern;
    text.resize(size);
    if (shape & 0x80) {
        // Bytes that are no document: anything that does not begin with the magic.
        if (!text.empty() && text[0] == QEL_MAGIC[0]) text[0] = 'X';
        document.raw = text;
    } else {
        document.payload = text;
    }
    return document;
}

void Die(const std::string& what, const road::Violations& violations) {
    std::fprintf(stderr, "%s\n", what.c_str());
    for (const std::string& line : violations) std::fprintf(stderr, "  %s\n", line.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    directory = new temp_dir::ScopedTempDir();  // the platform's temporary directory from now on
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const road::Document document = PickDocument(in);
    const std::array<bool, 256> leadBytes = PickLeadBytes(in);
    std::vector<int32_t> recognizeScript, openScript;
    if (in.ConsumeBool()) recognizeScript.push_back(PickCount(in, 100));
    const size_t scripted = in.ConsumeIntegralInRange<size_t>(0, 8);
    for (size_t i = 0; i < scripted; ++i) openScript.push_back(PickCount(in, 1024));
    const int failAllocation = in.ConsumeIntegralInRange(0, 8);
    const int failPlatformCall = in.ConsumeIntegralInRange(0, 80);
    const Failure how = in.ConsumeBool() ? Failure::kShort : Failure::kFail;

    platform_seam::Reset();
    platform_seam::SetLeadBytes(leadBytes);
    if (failPlatformCall != 0) platform_seam::FailCall(failPlatformCall, how);
    addin_module::ResetJournal();

    const std::string bytes = document.Bytes();
    fake_host::CountingAllocator allocator;
    if (failAllocation != 0) allocator.FailAllocationAt(failAllocation);
    fake_host::ScriptedSource recognizeSource(bytes, recognizeScript);
    fake_host::ScriptedSource openSource(bytes, openScript);
    road::Host host{&allocator, &recognizeSource, &openSource, [] { return platform_seam::TotalCalls(); }};
    AddinInterface addin = {};
    GetAddinInterface(&addin);

    const int handlesBefore = road::OpenHandles();
    const road::Outcome outcome = road::Run(addin, host, road::MaxReadsFor(bytes.size()));
    const int handlesAfter = road::OpenHandles();

    road::Violations violations;
    const auto report = [&violations](const std::string& line) { violations.push_back(line); };

    // What the host was told.
    if (outcome.created) {
        const int32_t count = recognizeSource.results().empty() ? -1 : recognizeSource.results()[0];
        const bool inContract = count >= 0 && count <= 100;
        const int32_t expected = inContract && QelRecognizeDocument(bytes.data(), count) != 0 ? 1 : 0;
        if (outcome.recognized != expected) report("Recognize answered " + std::to_string(outcome.recognized));
        if (outcome.destroyed != 1) report("DestroyInstance answered " + std::to_string(outcome.destroyed));
    }
    if (outcome.opened && outcome.closed != 1) report("CloseDocument answered " + std::to_string(outcome.closed));
    bool sourceKeptItsContract = true;
    for (int32_t count : openSource.results()) sourceKeptItsContract &= count >= 0 && count <= 1024;
    const std::optional<std::string> text =
        sourceKeptItsContract ? document.TextOf(openSource.delivered()) : std::nullopt;
    const bool nothingFailed = allocator.failedAllocations() == 0 && platform_seam::FailedCalls() == 0;
    if (outcome.opened && nothingFailed) {
        if (text) {
            road::CheckText(outcome, *text, &leadBytes, &violations);
        } else {
            road::CheckNoText(outcome, &violations);
        }
    } else {
        road::CheckPrefixOf(outcome, text, &violations);
    }

    // What the road left.
    std::vector<std::string> allowed;
    for (const platform_seam::Call& call : platform_seam::Log()) {
        if (call.failed && call.service == Service::DeleteFileA) {
            allowed.push_back(std::filesystem::path(call.path).filename().string());
        }
    }
    for (const std::string& file : directory->Files()) {
        if (std::find(allowed.begin(), allowed.end(), file) == allowed.end()) report("file " + file + " left behind");
    }
    if (allocator.liveBlocks() != 0) report(std::to_string(allocator.liveBlocks()) + " blocks not given back");
    if (allocator.badReleases() != 0) report(std::to_string(allocator.badReleases()) + " releases of blocks not live");
    if (handlesAfter != handlesBefore) {
        report("open descriptors went from " + std::to_string(handlesBefore) + " to " + std::to_string(handlesAfter));
    }
    QelStandInJournal journal = {};
    if (addin_module::ReadJournal(&journal) && journal.textPathExistedCalls != 0) {
        report("the conversion library was called with a file at the text path");
    }
    if (!violations.empty()) {
        Die("document of " + std::to_string(bytes.size()) + " bytes, Allocate #" + std::to_string(failAllocation) +
                " and platform call #" + std::to_string(failPlatformCall) + " failing (0: none):",
            violations);
    }

    // A file a failed deletion kept is the injected failure's, not the next input's.
    for (const std::string& file : directory->Files()) {
        std::error_code ignored;
        std::filesystem::remove(std::filesystem::path(directory->path()) / file, ignored);
    }
    return 0;
}
