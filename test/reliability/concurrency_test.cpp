// Many documents at once through one instance of the module a host loads: the add-in shares
// nothing between documents, so every text must come back exact and every file must go.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "addin_test.h"
#include "documents.h"

namespace {

constexpr int kThreads = 8;
constexpr int kDocumentsPerThread = 100;

// A text of its own for every document, from a few bytes to three chunks.
std::string TextOf(int thread, int document) {
    const int serial = thread * kDocumentsPerThread + document;
    std::string text = "thread " + std::to_string(thread) + ", document " + std::to_string(document) + "\n";
    const size_t size = text.size() + static_cast<size_t>(serial * 7919 % 30000);
    uint32_t state = static_cast<uint32_t>(serial) * 2654435761u + 1;
    while (text.size() < size) {
        state = state * 1664525u + 1013904223u;
        text.push_back(static_cast<char>(state >> 24));
    }
    return text;
}

// Runs one thread's documents; returns what went wrong, one line each.
std::vector<std::string> RunDocuments(const AddinInterface& addin, HostServices* instance,
                                      fake_host::CountingAllocator* host, int thread) {
    std::vector<std::string> failures;
    for (int d = 0; d < kDocumentsPerThread; ++d) {
        const std::string name = "thread " + std::to_string(thread) + " document " + std::to_string(d);
        const std::string text = TextOf(thread, d);
        const std::string bytes = documents::Make(text);
        fake_host::ScriptedSource recognizeSource(bytes);
        fake_host::ScriptedSource openSource(bytes);
        if (addin.Recognize(nullptr, recognizeSource.source(), nullptr) != 1) failures.push_back(name + ": not recognised");
        DocumentState* state = addin.OpenDocument(instance, openSource.source(), nullptr, nullptr);
        if (state == nullptr) {
            failures.push_back(name + ": OpenDocument gave no state");
            continue;
        }
        std::string got;
        for (int calls = 0; calls < 16; ++calls) {
            TextChunk chunk = {};
            if (addin.ReadText(instance, state, &chunk) != 1) {
                failures.push_back(name + ": ReadText failed after " + std::to_string(got.size()) + " bytes");
                break;
            }
            if (chunk.length == 0) break;
            got.append(static_cast<const char*>(chunk.data), static_cast<size_t>(chunk.length));
            host->ReleaseOwned(chunk.data);
        }
        if (got != text) {
            failures.push_back(name + ": text of " + std::to_string(got.size()) + " bytes, expected " +
                               std::to_string(text.size()));
        }
        if (addin.CloseDocument(instance, state) != 1) failures.push_back(name + ": CloseDocument failed");
    }
    return failures;
}

using Concurrency = AddinTest;

TEST_F(Concurrency, EightThreadsOfAHundredDocumentsThroughOneInstance) {
    std::vector<std::vector<std::string>> failures(kThreads);
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (!go.load()) std::this_thread::yield();
            failures[static_cast<size_t>(t)] = RunDocuments(addin(), instance, &host, t);
        });
    }
    while (ready.load() < kThreads) std::this_thread::yield();
    const auto start = std::chrono::steady_clock::now();
    go = true;
    for (std::thread& thread : threads) thread.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("concurrency: %d threads x %d documents through one instance in %.2f s (%.0f documents/s)\n",
                kThreads, kDocumentsPerThread, seconds, kThreads * kDocumentsPerThread / seconds);
    for (int t = 0; t < kThreads; ++t) {
        for (const std::string& failure : failures[static_cast<size_t>(t)]) ADD_FAILURE() << failure;
    }
    // Each document's text file has a name of its own, never one another document reserved.
    const QelStandInJournal journal = Journal();
    EXPECT_EQ(journal.convertCalls, kThreads * kDocumentsPerThread);
    EXPECT_EQ(journal.textPathExistedCalls, 0) << "conversions called with a file at the text path";
    // The fixture checks, when the test ends, that the temporary directory is empty and every
    // block is back.
}

}  // namespace
