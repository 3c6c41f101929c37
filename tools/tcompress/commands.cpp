#include "commands.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <limits>
#include <optional>
#include <thread>

#include "archive/archive_reader.h"
#include "archive/archive_writer.h"
#include "archive/format.h"
#include "archive/lzh_parallel.h"
#include "disk_file.h"
#include "file_info.h"
#include "framework/sysutils.h"
#include "progress.h"

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsage = 2;

// A wrong command line: its message goes to err after the command's name, with exit status 2.
TANDREL_DECLARE_EXCEPTION(EUsage, Exception);

// The options that a command takes besides --key.
struct AllowedOptions {
    bool method = false;
    bool force = false;
    bool threads = false;
    bool quiet = false;
};

// Splits options (--name, --name VALUE, -T VALUE) from operands; "--" ends the options.
struct ParsedArguments {
    std::vector<std::string> operands;
    std::optional<std::string> method;
    std::optional<std::string> key;
    std::optional<std::string> threads;
    bool force = false;
    bool quiet = false;
};

ParsedArguments Parse(const Arguments& args, AllowedOptions allowed) {
    ParsedArguments parsed;
    bool options = true;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!options || arg.size() < 2 || (arg.compare(0, 2, "--") != 0 && arg != "-T")) {
            parsed.operands.push_back(arg);
            continue;
        }
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) {
                throw EUsage(arg + " needs a value");
            }
            return args[++i];
        };
        if (arg == "--") {
            options = false;
        } else if (arg == "--key") {
            parsed.key = value();
        } else if (arg == "--method" && allowed.method) {
            parsed.method = value();
        } else if (arg == "--force" && allowed.force) {
            parsed.force = true;
        } else if ((arg == "--threads" || arg == "-T") && allowed.threads) {
            parsed.threads = value();
        } else if (arg == "--quiet" && allowed.quiet) {
            parsed.quiet = true;
        } else {
            throw EUsage("unknown option " + arg);
        }
    }
    return parsed;
}

int32_t ParseKey(const std::string& text) {
    try {
        return StrToInt(text);
    } catch (const EConvertError&) {
        throw EUsage("--key needs a 32-bit integer, not \"" + text + "\"");
    }
}

// --threads: how many threads search for matches; by default one per core.
int ParseThreads(const std::optional<std::string>& text) {
    if (!text) {
        return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxFinders);
    }
    const std::string expected = "--threads needs a number from 1 to " + std::to_string(kMaxFinders);
    int32_t n = 0;
    try {
        n = StrToInt(*text);
    } catch (const EConvertError&) {
        throw EUsage(expected + ", not \"" + *text + "\"");
    }
    if (n < 1 || n > kMaxFinders) {
        throw EUsage(expected + ", not \"" + *text + "\"");
    }
    return n;
}

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

std::string DateText(uint32_t fileDate) {
    const DosDateTime t = UnpackDosDateTime(fileDate);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return text;
}

// An archive file read in blocks, its reads counted on a progress meter, with its header checked.
struct OpenedArchive {
    DiskFile file;
    int64_t size;
    ProgressMeter meter;
    MeteredStream stream;
    TArchiveHeader header;

    OpenedArchive(const std::string& path, std::ostream& err, bool showProgress)
        : file(path, DiskFile::Mode::Read),
          size(file.Size()),
          meter(err, size, showProgress),
          stream(file, meter) {
        try {
            header = ReadCheckedArchiveHeader(stream);
        } catch (const Exception& e) {
            throw EToolError(path + ": " + e.Message());
        }
    }
};

// A file to pack: its entry name, where it is, and what is known of it before it is read.
struct PackInput {
    std::string name;
    std::string path;
    int64_t size = 0;
    FileStamp stamp;
};

// The entries named by pack's operands (FILE or NAME=PATH), each file looked at but not read: a
// missing or irregular file, a name used twice, or a size that the archive cannot hold is refused
// before any data is read.
std::vector<PackInput> PackInputs(const std::vector<std::string>& operands, std::optional<int64_t> epoch) {
    std::vector<PackInput> inputs;
    int64_t total = 0;
    for (const std::string& operand : operands) {
        PackInput input;
        const size_t equals = operand.find('=');
        if (equals != std::string::npos) {
            input.name = operand.substr(0, equals);
            input.path = operand.substr(equals + 1);
        } else {
            input.path = operand;
            const size_t slash = input.path.find_last_of("/\\");
            input.name = slash == std::string::npos ? input.path : input.path.substr(slash + 1);
        }
        if (input.name.empty() || input.path.empty()) {
            throw EUsage("\"" + operand + "\" names no file (give FILE or NAME=PATH)");
        }
        for (const PackInput& other : inputs) {
            if (SameTextAscii(other.name, input.name)) {
                throw EToolError("two entries named " + input.name + " (names differ only in case at most)");
            }
        }
        input.size = InputFileSize(input.path);
        CheckEntryFits(input.name, input.size, total);
        total += input.size;
        input.stamp = StampOf(input.path, epoch);
        inputs.push_back(input);
    }
    return inputs;
}

// Runs a command's body: a wrong command line is reported after the command's name with exit
// status 2, any other failure after "tcompress" with status 1.
template <typename Body>
int Guarded(const char* command, std::ostream& err, Body body) {
    try {
        return body();
    } catch (const EUsage& e) {
        err << "tcompress " << command << ": " << e.Message() << "\n";
        return kUsage;
    } catch (const Exception& e) {
        err << "tcompress: " << e.Message() << "\n";
        return kFailure;
    }
}

}  // namespace

int PackCommand(const Arguments& args, std::ostream& out, std::ostream& err) {
    return Guarded("pack", err, [&] {
        const ParsedArguments parsed =
            Parse(args, {.method = true, .force = true, .threads = true, .quiet = true});
        if (parsed.operands.size() < 2) {
            throw EUsage("pack needs an archive and at least one file");
        }
        uint8_t method = cmLZH;
        if (parsed.method) {
            const int number = MethodFromName(*parsed.method);
            if (number < cmNone || number > cmLZH) {
                throw EUsage("--method must be NON, RLE or LZH, not \"" + *parsed.method + "\"");
            }
            method = static_cast<uint8_t>(number);
        }
        int32_t key = 0;
        if (parsed.key) {
            key = ParseKey(*parsed.key);
            if (key <= 0) {
                throw EUsage("--key must be greater than 0 to lock entries");
            }
        }
        const int threads = ParseThreads(parsed.threads);
        const std::string& archivePath = parsed.operands[0];
        const std::vector<PackInput> inputs = PackInputs(
            std::vector<std::string>(parsed.operands.begin() + 1, parsed.operands.end()), SourceDateEpoch());
        int64_t total = 0;
        for (const PackInput& input : inputs) {
            total += input.size;
        }

        OutputFile archive(archivePath, parsed.force);
        ProgressMeter meter(err, total, !parsed.quiet && StandardErrorIsTerminal());
        ArchiveWriter writer(archive.Stream(), method, key, threads);
        for (const PackInput& input : inputs) {
            DiskFile file(input.path, DiskFile::Mode::Read);
            MeteredStream source(file, meter);
            writer.Add(input.name, source, input.size, input.stamp.fileDate, input.stamp.attributes);
            if (file.Size() != input.size) {
                throw EToolError(input.path + " changed while it was being packed");
            }
        }
        writer.Finish();
        const int64_t archiveSize = archive.Stream().Position();
        archive.Commit();
        meter.Clear();
        out << "packed " << inputs.size() << (inputs.size() == 1 ? " file" : " files") << ", "
            << writer.TotalSize() << " bytes into " << archiveSize << " (" << MethodName(method) << ")\n";
        return kSuccess;
    });
}

int ListCommand(const Arguments& args, std::ostream& out, std::ostream& err) {
    return Guarded("list", err, [&] {
        const ParsedArguments parsed = Parse(args, {});
        if (parsed.operands.size() != 1 || parsed.key) {
            throw EUsage("list needs exactly one archive");
        }
        OpenedArchive archive(parsed.operands[0], err, false);
        const auto entries = ListEntries(archive.stream);
        out << "archive " << parsed.operands[0] << ": method " << MethodIdentifier(archive.header)
            << ", total size " << archive.header.TotalSize << ", " << entries.size()
            << (entries.size() == 1 ? " entry" : " entries") << "\n";
        out << std::left << std::setw(24) << "name" << std::right << std::setw(11) << "size" << std::setw(11)
            << "packed"
            << "  method  checksum  date                 attr  locked\n";
        for (const ArchiveEntry& entry : entries) {
            const TFileHeader& h = entry.header;
            out << std::left << std::setw(24) << entry.name << std::right << std::setw(11) << h.FullSize
                << std::setw(11) << h.CompressedSize << "  " << std::left << std::setw(6)
                << (MethodName(h.Method)[0] ? MethodName(h.Method) : "?") << "  " << Hex(h.Checksum, 8)
                << "  " << DateText(h.FileDate) << "  " << Hex(h.Attributes, 4) << "  "
                << (h.LockFlag > 0 ? "yes" : "no") << std::right << "\n";
        }
        return kSuccess;
    });
}

int TestCommand(const Arguments& args, std::ostream& out, std::ostream& err) {
    return Guarded("test", err, [&] {
        const ParsedArguments parsed = Parse(args, {.quiet = true});
        if (parsed.operands.size() != 1) {
            throw EUsage("test needs exactly one archive");
        }
        const int32_t key = parsed.key ? ParseKey(*parsed.key) : 0;
        const std::string& path = parsed.operands[0];
        OpenedArchive archive(path, err, !parsed.quiet && StandardErrorIsTerminal());
        const auto entries = ListEntries(archive.stream);
        int failures = 0;
        int64_t total = 0;
        for (const ArchiveEntry& entry : entries) {
            std::string problem;
            try {
                const EntryTestResult result = TestEntry(archive.stream, entry, key);
                if (result.status != EntryTestResult::Status::Ok) {
                    problem = EntryStatusText(result.status);
                }
            } catch (const Exception& e) {
                problem = e.Message();
            }
            total += entry.header.FullSize;
            archive.meter.Clear();
            if (problem.empty()) {
                out << "ok      " << entry.name << "\n";
            } else {
                out << "FAILED  " << entry.name << ": " << problem << "\n";
                ++failures;
            }
        }
        // The archive ends with the last entry's data, and TotalSize is what a reader counts on
        // to know that it has seen every entry.
        const int64_t end = entries.empty() ? kArchiveHeaderSize : entries.back().NextHeaderPos();
        archive.meter.Clear();
        if (end != archive.size) {
            out << "FAILED  archive: the entries end at offset " << end << " of " << archive.size << "\n";
            ++failures;
        }
        if (total != archive.header.TotalSize) {
            out << "FAILED  archive: TotalSize " << archive.header.TotalSize << " but the entries hold "
                << total << " bytes\n";
            ++failures;
        }
        if (failures > 0) {
            err << "tcompress: " << path << ": " << failures << (failures == 1 ? " problem" : " problems")
                << "\n";
            return kFailure;
        }
        out << "all " << entries.size() << (entries.size() == 1 ? " entry" : " entries") << " ok\n";
        return kSuccess;
    });
}
