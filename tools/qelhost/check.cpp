#include "check.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "addin_interface.h"
#include "host_platform.h"
#include "host_services.h"

namespace qelhost {
namespace {

constexpr int32_t kRecognitionBytes = 100;
// A text this much larger than its document means an add-in that never reports the end.
constexpr int64_t kRunawayFactor = 64;
constexpr int64_t kRunawayBytes = 64 << 20;

std::string Plural(int64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string Joined(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : ", ") + name;
    return joined;
}

// Walks the text as the ANSI code page reads it, to tell whether a chunk ends between the two
// bytes of a double-byte character.
class CharacterWalk {
public:
    explicit CharacterWalk(bool doubleByte) : doubleByte_(doubleByte) {}
    void Chunk(const unsigned char* bytes, size_t count) {
        if (count == 0 || !doubleByte_) return;
        if (midCharacter_) ++splits_;  // the previous chunk ended on a lead byte
        for (size_t i = 0; i < count; ++i) {
            midCharacter_ = midCharacter_ ? false : IsLeadByte(bytes[i]);
        }
    }
    int64_t splits() const { return splits_; }

private:
    bool doubleByte_;
    bool midCharacter_ = false;
    int64_t splits_ = 0;
};

struct ChunkFigures {
    int64_t count = 0;
    int64_t bytes = 0;
    int32_t smallest = 0;
    int32_t largest = 0;
    void Add(int32_t length) {
        if (count == 0 || length < smallest) smallest = length;
        if (length > largest) largest = length;
        ++count;
        bytes += length;
    }
};

struct Timings {
    double create = 0, recognize = 0, open = 0, read = 0, close = 0, destroy = 0;
    double Total() const { return create + recognize + open + read + close + destroy; }
};

// Times one call of the add-in.
template <typename Call>
auto Timed(double* elapsed, Call call) {
    const double start = NowMilliseconds();
    auto result = call();
    *elapsed += NowMilliseconds() - start;
    return result;
}

}  // namespace

int RunCheck(const std::string& documentPath, const std::string& addinPath) {
    std::string error;
    int64_t documentSize = 0;
    {
        FileSource probe;
        if (!probe.Open(documentPath, &error)) {
            std::fprintf(stderr, "qelhost: %s\n", error.c_str());
            return 2;
        }
        documentSize = probe.file.size();
    }
    AddinModule module;
    if (!module.Load(addinPath, &error)) {
        std::fprintf(stderr, "qelhost: %s\n", error.c_str());
        return 2;
    }
    const AddinInterface& table = module.table();
    PrivateTempFolder folder;
    if (!folder.Create(&error)) {
        std::fprintf(stderr, "qelhost: %s\n", error.c_str());
        return 2;
    }

    std::vector<std::string> problems;
    auto problem = [&problems](const std::string& text) { problems.push_back(text); };
    std::vector<std::string> report;
    auto line = [&report](const char* label, const std::string& text) {
        char padded[16];
        std::snprintf(padded, sizeof padded, "%-13s", label);
        report.push_back(std::string(padded) + text);
    };
    line("add-in:", addinPath);
    line("document:", documentPath + " (" + Plural(documentSize, "byte", "bytes") + ")");
    line("temp folder:", folder.path() + " (made for this run, removed after it)");

    Timings time;
    Accounting accounting;
    HostServices* const services = accounting.services();
    const HostServices record = *services;

    // The instance: a copy of the services record in one block of host memory.
    HostServices* instance = Timed(&time.create, [&] { return table.CreateInstance(services, nullptr); });
    if (instance == nullptr) {
        problem("CreateInstance returned null although the host's Allocate works");
    } else {
        accounting.instance = instance;
        if (!accounting.IsLive(instance)) {
            problem("the instance is not a block from the host's Allocate");
        } else if (accounting.SizeOf(instance) < sizeof(HostServices) ||
                   std::memcmp(instance, &record, sizeof(HostServices)) != 0) {
            problem("the instance is not a copy of the five words of the host's services record");
        }
    }
    if (table.Noop(nullptr) != 1) problem("Noop did not answer 1");

    // Recognition, from a source of its own as a host may give it.
    FileSource recognizeSource;
    if (!recognizeSource.Open(documentPath, &error)) {
        std::fprintf(stderr, "qelhost: %s\n", error.c_str());
        return 2;
    }
    const int32_t answer =
        Timed(&time.recognize, [&] { return table.Recognize(instance, &recognizeSource.record, nullptr); });
    if (recognizeSource.failed) {
        std::fprintf(stderr, "qelhost: cannot read %s: %s\n", documentPath.c_str(), recognizeSource.error.c_str());
        return 2;
    }
    line("recognized:", std::string(answer != 0 ? "yes" : "no") + " (Recognize read " +
                            Plural(recognizeSource.delivered, "byte", "bytes") + " in " +
                            Plural(recognizeSource.reads, "call", "calls") + " of Read)");
    if (answer != 0 && answer != 1) problem("Recognize answered " + std::to_string(answer) + ", not 1 or 0");
    if (recognizeSource.largestCapacity > kRecognitionBytes) {
        problem("Recognize asked Read for " + std::to_string(recognizeSource.largestCapacity) +
                " bytes; it judges a document by its first " + std::to_string(kRecognitionBytes));
    }
    if (!folder.Files().empty()) problem("Recognize left files in the temporary folder: " + Joined(folder.Files()));

    // Opening: the whole document spooled, converted, and its text file held open.
    FileSource source;
    if (!source.Open(documentPath, &error)) {
        std::fprintf(stderr, "qelhost: %s\n", error.c_str());
        return 2;
    }
    DocumentState* state = nullptr;
    if (instance != nullptr) {
        state = Timed(&time.open, [&] { return table.OpenDocument(instance, &source.record, nullptr, nullptr); });
    }
    if (source.failed) {
        if (state != nullptr) table.CloseDocument(instance, state);
        if (instance != nullptr) table.DestroyInstance(instance);
        std::fprintf(stderr, "qelhost: cannot read %s: %s\n", documentPath.c_str(), source.error.c_str());
        return 2;
    }
    const size_t filesWhileOpen = folder.Files().size();
    if (instance != nullptr && state == nullptr) problem("OpenDocument returned null although the host's Allocate works");
    if (state != nullptr) {
        line("opened:", "OpenDocument read " + Plural(source.delivered, "byte", "bytes") + " in " +
                            Plural(source.reads, "call", "calls") + " of Read; " +
                            Plural(static_cast<int64_t>(filesWhileOpen), "temp file", "temp files") + " while open");
        if (!source.ended) {
            problem("OpenDocument stopped reading after " + std::to_string(source.delivered) + " of " +
                    std::to_string(documentSize) + " bytes, before the source reported its end");
        }
    }

    // The text, read to its end.
    ChunkFigures chunks;
    const CodePage codePage = AnsiCodePage();
    CharacterWalk walk(codePage.doubleByte);
    std::string ending = "no document to read";
    for (bool reading = state != nullptr; reading;) {
        TextChunk chunk = {nullptr, -1};
        accounting.StartCall();
        const int32_t result = Timed(&time.read, [&] { return table.ReadText(instance, state, &chunk); });
        const std::vector<void*> taken = accounting.TakenInCall();
        const std::string which = "chunk " + std::to_string(chunks.count + 1);
        reading = false;
        if (result == 0) {
            ending = chunks.count == 0 ? "no text: the first ReadText failed (the document was not converted)"
                                       : "ReadText failed at byte " + std::to_string(chunks.bytes) + " of the text";
        } else if (result != 1) {
            problem("ReadText answered " + std::to_string(result) + ", not 1 or 0");
        } else if (chunk.length == 0) {
            ending = "ended by an empty chunk";
            if (!taken.empty()) problem("ReadText took a block for the empty chunk that ends the text");
        } else if (chunk.length < 0) {
            problem("ReadText answered 1 with a chunk length of " + std::to_string(chunk.length));
        } else if (chunk.data == nullptr) {
            problem(which + " has " + std::to_string(chunk.length) + " bytes but no data");
        } else if (!accounting.IsLive(chunk.data)) {
            problem(which + " is not in a block from the host's Allocate");
        } else {
            reading = true;
            if (chunk.length > ADDIN_MAX_CHUNK) {
                problem(which + " is " + std::to_string(chunk.length) + " bytes, over the " +
                        std::to_string(ADDIN_MAX_CHUNK) + " a chunk may hold");
            }
            const uint32_t blockSize = accounting.SizeOf(chunk.data);
            if (taken.size() != 1 || taken[0] != chunk.data) {
                problem(which + " was not handed over as the one block taken in its call (" +
                        Plural(static_cast<int64_t>(taken.size()), "block", "blocks") + " taken)");
            } else if (blockSize != static_cast<uint32_t>(chunk.length)) {
                problem(which + " of " + std::to_string(chunk.length) + " bytes came in a block of " +
                        std::to_string(blockSize));
            }
            const size_t readable = blockSize < static_cast<uint32_t>(chunk.length) ? blockSize : chunk.length;
            walk.Chunk(static_cast<const unsigned char*>(chunk.data), readable);
            chunks.Add(chunk.length);
            accounting.TakeChunk(chunk.data);
            if (chunks.bytes > kRunawayFactor * documentSize + kRunawayBytes) {
                problem("ReadText went on past " + std::to_string(chunks.bytes) + " bytes of text from a document of " +
                        std::to_string(documentSize) + " bytes; the check stopped reading");
                reading = false;
            }
        }
    }
    if (state != nullptr) {
        std::string text = Plural(chunks.bytes, "byte", "bytes") + " in " + Plural(chunks.count, "chunk", "chunks");
        if (chunks.count > 0) {
            text += " (smallest " + std::to_string(chunks.smallest) + ", largest " + std::to_string(chunks.largest) + ")";
        }
        line("text:", text + "; " + ending);
    }
    if (!codePage.known) {
        line("double-byte:", "not checked natively (the ANSI code page is the add-in's own here)");
    } else if (!codePage.doubleByte) {
        line("double-byte:", "code page " + std::to_string(codePage.number) + " has no double-byte characters");
    } else {
        line("double-byte:", "code page " + std::to_string(codePage.number) + ": " +
                                 Plural(walk.splits(), "character", "characters") + " split between chunks");
        if (walk.splits() != 0) {
            problem(Plural(walk.splits(), "double-byte character was", "double-byte characters were") +
                    " split between two chunks");
        }
    }

    // Closing and destroying: everything given back, nothing left on disk.
    if (state != nullptr) {
        const int32_t closed = Timed(&time.close, [&] { return table.CloseDocument(instance, state); });
        if (closed != 1) problem("CloseDocument answered " + std::to_string(closed) + ", not 1");
    }
    if (instance != nullptr) {
        const int32_t destroyed = Timed(&time.destroy, [&] { return table.DestroyInstance(instance); });
        if (destroyed != 1) problem("DestroyInstance answered " + std::to_string(destroyed) + ", not 1");
    }

    line("allocations:", Plural(accounting.allocations, "block", "blocks") + " taken (" +
                             Plural(accounting.allocatedBytes, "byte", "bytes") + "): " +
                             std::to_string(accounting.releasedByAddin) + " released by the add-in, " +
                             Plural(accounting.freedByHost, "chunk", "chunks") + " freed by the host, " +
                             std::to_string(accounting.LiveBlocks()) + " never released");
    if (accounting.LiveBlocks() != 0) {
        problem(Plural(static_cast<int64_t>(accounting.LiveBlocks()), "block", "blocks") + " (" +
                Plural(accounting.LiveBytes(), "byte", "bytes") + ") never released");
    }
    if (accounting.badReleases != 0) {
        problem("Release was given " + Plural(accounting.badReleases, "block", "blocks") +
                " that the add-in did not hold");
    }
    if (accounting.releasedChunks != 0) {
        problem("the add-in released " + Plural(accounting.releasedChunks, "chunk", "chunks") +
                " it had handed to the host");
    }
    if (accounting.foreignRecordCalls != 0) {
        problem(Plural(accounting.foreignRecordCalls, "callback was", "callbacks were") +
                " given a services record that is neither the host's nor the instance");
    }
    const std::vector<std::string> left = folder.Files();
    line("temp files:", left.empty() ? "none left" : std::to_string(left.size()) + " left: " + Joined(left));
    if (!left.empty()) problem(Plural(static_cast<int64_t>(left.size()), "temporary file", "temporary files") + " left: " + Joined(left));

    char timing[160];
    std::snprintf(timing, sizeof timing, "%.2f ms (create %.2f, recognize %.2f, open %.2f, read %.2f, close %.2f, destroy %.2f)",
                  time.Total(), time.create, time.recognize, time.open, time.read, time.close, time.destroy);
    line("time:", timing);

    for (const std::string& text : report) std::printf("%s\n", text.c_str());
    if (problems.empty()) {
        std::printf("result:      balanced: every block released, no temporary file left, every chunk within %d bytes\n",
                    ADDIN_MAX_CHUNK);
        return 0;
    }
    std::printf("result:      FAILED: %s\n", Plural(static_cast<int64_t>(problems.size()), "problem", "problems").c_str());
    for (const std::string& text : problems) std::printf("problem:     %s\n", text.c_str());
    std::fflush(stdout);
    return 1;
}

}  // namespace qelhost
