// qelhost: a command-line host for the QELALTF add-in. It loads the add-in module as a host
// application does and runs one document through it: recognize it, extract its text, or check
// the whole road with every block and temporary file accounted for.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "addin_interface.h"
#include "check.h"
#include "host_platform.h"
#include "host_services.h"

namespace qelhost {
namespace {

constexpr int kYes = 0;
constexpr int kNo = 1;
constexpr int kTrouble = 2;

#if defined(_WIN32)
constexpr const char* kDefaultAddinText = "QELALTF.dll beside qelhost.exe";
#else
constexpr const char* kDefaultAddinText = "libQELALTF.so beside qelhost";
#endif

constexpr const char* kUsageLine = "Usage: qelhost [--addin PATH] recognize|extract|check FILE [-o OUT]";

void PrintHelp() {
    std::printf(
        "%s\n"
        "\n"
        "A host for the QELALTF add-in: loads the add-in module as a host application does\n"
        "(LoadLibraryA or dlopen, then GetAddinInterface) and runs one document through it.\n"
        "\n"
        "Commands:\n"
        "  recognize FILE          say whether the add-in accepts FILE as a document it can convert\n"
        "  extract FILE [-o OUT]   write the text of FILE, byte for byte, to standard output or OUT;\n"
        "                          like a host, it asks the add-in to recognize FILE first\n"
        "  check FILE              run the whole road (create an instance, recognize, open, read the\n"
        "                          text to its end, close, destroy) with an allocator that accounts for\n"
        "                          every block and a private temporary folder, and report recognition,\n"
        "                          chunks and their sizes, allocations, temporary files left and time\n"
        "\n"
        "Options:\n"
        "  --addin PATH            the add-in module to load (default: %s)\n"
        "  -o, --output OUT        extract: write the text to OUT, which appears only once the whole\n"
        "                          text has been read; an existing OUT is replaced\n"
        "  -h, --help              show this help\n"
        "\n"
        "Exit status:\n"
        "  0  recognize: accepted; extract: the whole text written; check: a balanced run in which\n"
        "     the add-in kept its contract (whether or not the document converted)\n"
        "  1  recognize: not accepted; extract: the add-in failed the document; check: blocks not\n"
        "     released, temporary files left, a chunk over %d bytes or another broken rule\n"
        "  2  a usage error, or the document, the output or the add-in could not be used\n"
        "\n"
        "The add-in needs its conversion library, QELTEXT.dll, where the system finds it for a\n"
        "program: beside qelhost. A check makes its temporary folder inside the system's temporary\n"
        "directory (TMP on Windows, TMPDIR elsewhere) and removes it afterwards.\n"
        "\n"
        "Examples:\n"
        "  qelhost extract samples/sample.qel\n"
        "  qelhost extract report.qel -o report.txt\n"
        "  qelhost check samples/sample.qel --addin path/to/another/QELALTF.dll\n",
        kUsageLine, kDefaultAddinText, ADDIN_MAX_CHUNK);
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "qelhost: %s\n%s\nTry 'qelhost --help' for more.\n", message.c_str(), kUsageLine);
    return kTrouble;
}

int Trouble(const std::string& message) {
    std::fprintf(stderr, "qelhost: %s\n", message.c_str());
    return kTrouble;
}

int Failed(const std::string& message) {
    std::fprintf(stderr, "qelhost: %s\n", message.c_str());
    return kNo;
}

struct Options {
    std::string command;
    std::string file;
    std::string addin;
    std::string output;
    bool hasOutput = false;
    bool help = false;
};

// Options may come before or after the command; "--" ends them.
bool ParseArguments(int argc, char** argv, Options* options, std::string* error) {
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&](const char* name, std::string* out) {
            if (i + 1 >= argc) {
                *error = std::string(name) + " needs a value";
                return false;
            }
            *out = argv[++i];
            return true;
        };
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            positional.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "-h" || argument == "--help") {
            options->help = true;
        } else if (argument == "--addin") {
            if (!value("--addin", &options->addin)) return false;
        } else if (argument.compare(0, 8, "--addin=") == 0) {
            options->addin = argument.substr(8);
        } else if (argument == "-o" || argument == "--output") {
            if (!value(argument.c_str(), &options->output)) return false;
            options->hasOutput = true;
        } else if (argument.compare(0, 9, "--output=") == 0) {
            options->output = argument.substr(9);
            options->hasOutput = true;
        } else {
            *error = "unknown option '" + argument + "'";
            return false;
        }
    }
    if (options->help) return true;
    if (positional.empty()) {
        *error = "no command given";
        return false;
    }
    options->command = positional[0];
    if (options->command != "recognize" && options->command != "extract" && options->command != "check") {
        *error = "unknown command '" + options->command + "'";
        return false;
    }
    if (positional.size() < 2) {
        *error = options->command + " needs a FILE";
        return false;
    }
    if (positional.size() > 2) {
        *error = "too many arguments: " + options->command + " takes one FILE";
        return false;
    }
    options->file = positional[1];
    if (options->hasOutput && options->command != "extract") {
        *error = "-o is an option of extract only";
        return false;
    }
    if (options->hasOutput && options->output.empty()) {
        *error = "-o needs a file name";
        return false;
    }
    if (options->addin.empty()) options->addin = ProgramDirectory() + kAddinFileName;
    return true;
}

// An instance over malloc and free, destroyed with the object.
class Instance {
public:
    explicit Instance(const AddinInterface& table) : table_(table) {
        instance_ = table_.CreateInstance(&services_, nullptr);
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;
    ~Instance() {
        if (instance_ != nullptr) table_.DestroyInstance(instance_);
    }
    HostServices* get() const { return instance_; }

private:
    const AddinInterface& table_;
    HostServices services_ = PlainServices();
    HostServices* instance_ = nullptr;
};

// An open document, closed with the object.
class Document {
public:
    Document(const AddinInterface& table, HostServices* instance, HostSource* source)
        : table_(table), instance_(instance) {
        state_ = table_.OpenDocument(instance_, source, nullptr, nullptr);
    }
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;
    ~Document() { Close(); }
    DocumentState* get() const { return state_; }
    bool Close() {
        if (state_ == nullptr) return true;
        const bool closed = table_.CloseDocument(instance_, state_) == 1;
        state_ = nullptr;
        return closed;
    }

private:
    const AddinInterface& table_;
    HostServices* instance_;
    DocumentState* state_ = nullptr;
};

// Asks the add-in about a fresh source of the document: 1 yes, 0 no, -1 when the file could not be
// read (with the reason in `error`).
int AskRecognize(const AddinInterface& table, HostServices* instance, const std::string& path,
                 std::string* error) {
    FileSource source;
    if (!source.Open(path, error)) return -1;
    const int32_t answer = table.Recognize(instance, &source.record, nullptr);
    if (source.failed) {
        *error = "cannot read " + path + ": " + source.error;
        return -1;
    }
    return answer != 0 ? 1 : 0;
}

int RunRecognize(const Options& options) {
    std::string error;
    {
        FileSource probe;  // a missing or unreadable file is reported before the add-in is loaded
        if (!probe.Open(options.file, &error)) return Trouble(error);
    }
    AddinModule module;
    if (!module.Load(options.addin, &error)) return Trouble(error);
    Instance instance(module.table());
    if (instance.get() == nullptr) return Failed("the add-in could not create an instance (CreateInstance returned null)");

    const int answer = AskRecognize(module.table(), instance.get(), options.file, &error);
    if (answer < 0) return Trouble(error);
    if (answer == 1) {
        std::printf("%s: recognized: the add-in accepts this document\n", options.file.c_str());
        return kYes;
    }
    std::printf("%s: not recognized: the add-in does not accept this document\n", options.file.c_str());
    return kNo;
}

int RunExtract(const Options& options) {
    const std::string& path = options.file;
    std::string error;
    {
        FileSource probe;
        if (!probe.Open(path, &error)) return Trouble(error);
    }
    AddinModule module;
    if (!module.Load(options.addin, &error)) return Trouble(error);
    const AddinInterface& table = module.table();

    TextOutput output;
    if (!(options.hasOutput ? output.OpenFile(options.output, &error) : output.OpenStandardOutput(&error))) {
        return Trouble(error);
    }
    Instance instance(table);
    if (instance.get() == nullptr) return Failed("the add-in could not create an instance (CreateInstance returned null)");

    const int recognized = AskRecognize(table, instance.get(), path, &error);
    if (recognized < 0) return Trouble(error);
    if (recognized == 0) {
        return Failed("the add-in could not convert " + path + ": it does not recognise the file as a document");
    }

    FileSource source;
    if (!source.Open(path, &error)) return Trouble(error);
    Document document(table, instance.get(), &source.record);
    if (document.get() == nullptr) {
        return Failed("the add-in could not open " + path + " (OpenDocument returned null)");
    }
    if (source.failed) return Trouble("cannot read " + path + ": " + source.error);

    int64_t bytes = 0;
    for (int64_t chunks = 0;; ++chunks) {
        TextChunk chunk = {nullptr, 0};
        const int32_t result = table.ReadText(instance.get(), document.get(), &chunk);
        if (result != 1) {
            if (chunks == 0) {
                return Failed("the add-in could not convert " + path +
                              ": the first ReadText failed (the conversion library rejected the document or made no text)");
            }
            return Failed("reading the text of " + path + " failed at byte " + std::to_string(bytes) +
                          " (ReadText failed after " + std::to_string(chunks) + " chunks)");
        }
        if (chunk.length == 0) break;
        if (chunk.length < 0 || chunk.length > ADDIN_MAX_CHUNK || chunk.data == nullptr) {
            return Failed("the add-in broke its contract at byte " + std::to_string(bytes) + " of the text: a chunk of " +
                          std::to_string(chunk.length) + " bytes" + (chunk.data == nullptr ? " without data" : "") +
                          "; run 'qelhost check' for details");
        }
        const bool written = output.Write(chunk.data, static_cast<size_t>(chunk.length), &error);
        FreeChunk(chunk.data);
        if (!written) return Trouble(error);
        bytes += chunk.length;
    }
    if (!document.Close()) return Failed("the add-in did not close the document (CloseDocument failed)");
    if (!output.Commit(&error)) return Trouble(error);
    return kYes;
}

}  // namespace
}  // namespace qelhost

int main(int argc, char** argv) {
    using namespace qelhost;
    Options options;
    std::string error;
    if (!ParseArguments(argc, argv, &options, &error)) return UsageError(error);
    if (options.help) {
        PrintHelp();
        return kYes;
    }
    if (options.command == "recognize") return RunRecognize(options);
    if (options.command == "extract") return RunExtract(options);
    return RunCheck(options.file, options.addin);
}
