// tcompress: makes, lists and tests the setup's archives.
#include <cstring>
#include <iostream>
#include <new>

#include "commands.h"
#ifdef _WIN32
#include "extract_win32.h"
#include "lifecycle/safe_library.h"
#endif

namespace {

struct Command {
    const char* name;
    const char* usage;
    int (*run)(const Arguments& args, std::ostream& out, std::ostream& err);
};

// One line per subcommand; a platform may add its own.
const Command kCommands[] = {
    {"pack",
     "pack [--method NON|RLE|LZH] [--key K] [--force] [--threads N] [--quiet] ARCHIVE FILE|NAME=PATH...",
     PackCommand},
    {"list", "list ARCHIVE", ListCommand},
    {"test", "test [--key K] [--quiet] ARCHIVE", TestCommand},
#ifdef _WIN32
    {"extract", "extract [--key K] [--allow-outside] [--quiet] ARCHIVE DIR [NAME...]", ExtractCommand},
#endif
};

void PrintHelp(std::ostream& out) {
    out << "Usage:\n  tcompress --version\n";
    for (const Command& c : kCommands) {
        out << "  tcompress " << c.usage << "\n";
    }
    out << R"(
pack    writes a new archive of the files, coded with LZH unless --method says otherwise. Each
        entry is named after its file's base name, or NAME when given as NAME=PATH (the name is
        stored byte for byte; use \ to place it in a subfolder). An existing ARCHIVE is replaced
        only with --force. --key K (1 to 2147483647) locks every entry with that key.
        Dates: each file's last-write time in local time; when SOURCE_DATE_EPOCH is set, that time
        in UTC for every file, so that the same files give the same archive anywhere.
        Attributes: archive (0x20), plus read-only (0x01) for a file its owner may not write;
        archive alone when SOURCE_DATE_EPOCH is set.
        --threads N (-T N), 1 to 16: threads that search for matches in LZH entries of 64 KiB or
        more, while the main thread reads and codes; by default one per core. The archive is the
        same byte for byte whatever N. Files are read and the archive written in blocks, so memory
        stays small whatever the sizes; a file too large for the archive is refused before any
        file is read.
list    shows each entry's name, sizes, method, checksum, date, attributes and lock.
test    expands every entry and checks its size and checksum (locked entries with --key K);
        exit status 0 only when every entry and the archive's total pass.

pack, test and extract show their progress (percentage of the bytes read, MB/s) on standard
error when it is a terminal; --quiet turns that off.

Exit status: 0 success, 1 failure, 2 wrong usage.
)";
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // Libraries from the system folder only, never from the program's folder or the current one.
    SetSafeLibrarySearchOrder();
#endif
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        PrintHelp(argc < 2 ? std::cerr : std::cout);
        return argc < 2 ? 2 : 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::cout << "tcompress " << TANDREL_VERSION << "\n";
        return 0;
    }
    for (const Command& c : kCommands) {
        if (std::strcmp(argv[1], c.name) == 0) {
            try {
                return c.run(Arguments(argv + 2, argv + argc), std::cout, std::cerr);
            } catch (const std::bad_alloc&) {
                std::cerr << "tcompress: out of memory\n";
                return 1;
            }
        }
    }
    std::cerr << "tcompress: unknown command \"" << argv[1] << "\"\n";
    PrintHelp(std::cerr);
    return 2;
}
