#include "commands.h"

#include <cstdio>
#include <iomanip>
#include <iostream>
#include <limits>
#include <optional>

#include "archive_reader.h"
#include "archive_writer.h"
#include "file_info.h"
#include "format.h"
#include "sysutils.h"

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsage = 2;

// A wrong command line: its message goes to err after the command's name, with exit status 2.
TANDREL_DECLARE_EXCEPTION(EUsage, Exception);

// Splits options (--name or --name VALUE) from operands; "--" ends the options.
struct ParsedArguments {
    std::vector<std::string> operands;
    std::optional<std::string> method;
    std::optional<std::string> key;
    bool force = false;
};

ParsedArguments Parse(const Arguments& args, bool allowMethod, bool allowForce) {
    ParsedArguments parsed;
    bool options = true;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!options || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
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
        } else if (arg == "--method" && allowMethod) {
            parsed.method = value();
        } else if (arg == "--force" && allowForce) {
            parsed.force = true;
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

// The archive file in memory, with its header checked.
struct LoadedArchive {
    std::vector<uint8_t> bytes;
    TCustomMemoryStream stream;
    TArchiveHeader header;

    explicit LoadedArchive(const std::string& path)
        : bytes(ReadWholeFile(path)), stream(bytes.data(), static_cast<int64_t>(bytes.size())) {
        try {
            header = ReadCheckedArchiveHeader(stream);
        } catch (const Exception& e) {
            throw EToolError(path + ": " + e.Message());
        }
    }
};

}  // namespace

int PackCommand(const Arguments& args, std::ostream& out, std::ostream& err) {
    try {
        const ParsedArguments parsed = Parse(args, true, true);
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
        const std::string& archivePath = parsed.operands[0];
        const std::optional<int64_t> epoch = SourceDateEpoch();

        TMemoryStream archive;
        ArchiveWriter writer(archive, method, key);
        std::vector<std::string> names;
        for (size_t i = 1; i < parsed.operands.size(); ++i) {
            const std::string& operand = parsed.operands[i];
            std::string name;
            std::string path;
            const size_t equals = operand.find('=');
            if (equals != std::string::npos) {
                name = operand.substr(0, equals);
                path = operand.substr(equals + 1);
            } else {
                path = operand;
                const size_t slash = path.find_last_of("/\\");
                name = slash == std::string::npos ? path : path.substr(slash + 1);
            }
            if (name.empty() || path.empty()) {
                throw EUsage("\"" + operand + "\" names no file (give FILE or NAME=PATH)");
            }
            for (const std::string& other : names) {
                if (SameTextAscii(other, name)) {
                    throw EToolError("two entries named " + name + " (names differ only in case at most)");
                }
            }
            names.push_back(name);
            const std::vector<uint8_t> data = ReadWholeFile(path);
            const FileStamp stamp = StampOf(path, epoch);
            writer.Add(name, data.data(), data.size(), stamp.fileDate, stamp.attributes);
        }
        writer.Finish();
        WriteWholeFile(archivePath, archive.Bytes(), parsed.force);
        out << "packed " << names.size() << (names.size() == 1 ? " file" : " files") << ", "
            << writer.TotalSize() << " bytes into " << archive.Size() << " (" << MethodName(method) << ")\n";
        return kSuccess;
    } catch (const EUsage& e) {
        err << "tcompress pack: " << e.Message() << "\n";
        return kUsage;
    } catch (const Exception& e) {
        err << "tcompress: " << e.Message() << "\n";
        return kFailure;
    }
}

int ListCommand(const Arguments& args, std::ostream& out, std::ostream& err) {
    try {
        const ParsedArguments parsed = Parse(args, false, false);
        if (parsed.operands.size() != 1 || parsed.key) {
            throw EUsage("list needs exactly one archive");
        }
        LoadedArchive archive(parsed.operands[0]);
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
    } catch (const EUsage& e) {
        err << "tcompress list: " << e.Message() << "\n";
        return kUsage;
    } catch (const Exception& e) {
        err << "tcompress: " << e.Message() << "\n";
        return kFailure;
    }
}

int TestCommand(const Arguments& args, std::ostream& out, std::ostream& err) {
    try {
        const ParsedArguments parsed = Parse(args, false, false);
        if (parsed.operands.size() != 1) {
            throw EUsage("test needs exactly one archive");
        }
        const int32_t key = parsed.key ? ParseKey(*parsed.key) : 0;
        const std::string& path = parsed.operands[0];
        LoadedArchive archive(path);
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
            if (problem.empty()) {
                out << "ok      " << entry.name << "\n";
            } else {
                out << "FAILED  " << entry.name << ": " << problem << "\n";
                ++failures;
            }
        }
        // The archive ends with the last entry's data, and TotalSize is what a reader counts on
        // to know that it has seen every entry.
        const int64_t end = entries.empty() ? kArchiveHeaderSize
                                            : entries.back().dataPos + entries.back().header.CompressedSize;
        if (end != static_cast<int64_t>(archive.bytes.size())) {
            out << "FAILED  archive: the entries end at offset " << end << " of " << archive.bytes.size()
                << "\n";
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
    } catch (const EUsage& e) {
        err << "tcompress test: " << e.Message() << "\n";
        return kUsage;
    } catch (const Exception& e) {
        err << "tcompress: " << e.Message() << "\n";
        return kFailure;
    }
}
