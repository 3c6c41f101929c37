#include "extract_win32.h"

#include <windows.h>

#include <iostream>

#include "archive/compress.h"
#include "framework/file_stream.h"
#include "framework/string_list.h"
#include "framework/sysutils.h"
#include "progress.h"

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsage = 2;

struct ExtractOptions {
    std::string archive;
    std::string folder;
    std::vector<std::string> names;
    int32_t key = 0;
    bool allowOutside = false;
    bool quiet = false;
};

// Parses ARCHIVE DIR [--key K] [--allow-outside] [--quiet] [NAME...]; "--" ends the options. Returns false
// with a message for a wrong command line.
bool ParseOptions(const Arguments& args, ExtractOptions& options, std::string& problem) {
    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.compare(0, 2, "--") != 0) {
            operands.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--allow-outside") {
            options.allowOutside = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--key") {
            if (i + 1 >= args.size()) {
                problem = "--key needs a value";
                return false;
            }
            try {
                options.key = StrToInt(args[++i]);
            } catch (const EConvertError&) {
                problem = "--key needs a 32-bit integer, not \"" + args[i] + "\"";
                return false;
            }
        } else {
            problem = "unknown option " + arg;
            return false;
        }
    }
    if (operands.size() < 2) {
        problem = "extract needs an archive and a folder";
        return false;
    }
    options.archive = operands[0];
    options.folder = operands[1];
    options.names.assign(operands.begin() + 2, operands.end());
    return true;
}

std::string FullPath(const std::string& path) {
    char full[MAX_PATH];
    const DWORD length = ::GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? std::string(full, length) : path;
}

// Whether an entry's output path stays inside the folder (given with its trailing "\"): the path
// must begin with the folder, and what follows may hold no drive or stream (":"), no part that
// Windows would read as "." or ".." (only dots and blanks), and nothing that leaves the folder once
// the system has resolved it.
bool InsideFolder(const std::string& path, const std::string& folder) {
    if (path.size() <= folder.size() || !SameTextAscii(path.substr(0, folder.size()), folder)) {
        return false;
    }
    const std::string rest = path.substr(folder.size());
    if (rest.find(':') != std::string::npos) {
        return false;
    }
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find_first_of("\\/", start);
        if (end == std::string::npos) {
            end = rest.size();
        }
        const std::string part = rest.substr(start, end - start);
        if (part.find_first_not_of(". ") == std::string::npos) {
            return false;  // empty, "." or ".." (and what Windows trims to them)
        }
        start = end + 1;
    }
    const std::string resolved = FullPath(path);
    return resolved.size() > folder.size() && SameTextAscii(resolved.substr(0, folder.size()), folder);
}

}  // namespace

int ExtractCommand(const Arguments& args, std::ostream& out, std::ostream& err) {
    ExtractOptions options;
    std::string problem;
    if (!ParseOptions(args, options, problem)) {
        err << "tcompress: " << problem << "\n"
            << "usage: tcompress extract [--key K] [--allow-outside] [--quiet] ARCHIVE DIR [NAME...]\n";
        return kUsage;
    }
    try {
        TFileStream file(options.archive, fmOpenRead | fmShareDenyWrite);
        ProgressMeter meter(err, file.Size(), !options.quiet && StandardErrorIsTerminal());
        MeteredStream archive(file, meter);
        TCompress compress(nullptr);
        compress.SetTargetPath(FullPath(options.folder));
        compress.MakeDirectories = true;
        compress.ExceptionOnFileError = true;
        compress.Key = options.key;
        const std::string folder = compress.TargetPath();

        int refused = 0;
        compress.OnCheckFile = [&](std::string& path, TCProcessMode) {
            meter.Clear();
            if (!options.allowOutside && !InsideFolder(path, folder)) {
                err << "tcompress: skipping " << path << ": outside " << folder
                    << " (--allow-outside extracts it)\n";
                ++refused;
                path.clear();
                return;
            }
            out << "  " << path << "\n" << std::flush;
        };

        TStringList selection;
        for (const std::string& name : options.names) {
            selection.Add(name);
        }
        compress.ExpandArchiveFiles(archive, options.names.empty() ? nullptr : &selection);
        meter.Clear();
        if (!options.names.empty() && selection.Count() == 0) {
            err << "tcompress: no entry of that name was extracted\n";
            return kFailure;
        }
        if (refused > 0) {
            err << "tcompress: " << refused << " entr" << (refused == 1 ? "y" : "ies") << " refused\n";
            return kFailure;
        }
        return kSuccess;
    } catch (const Exception& e) {
        err << "tcompress: " << e.Message() << "\n";
        return kFailure;
    }
}
