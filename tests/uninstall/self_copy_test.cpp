// The uninstaller's copy of itself and the clean-up of earlier removals' folders, on real files
// and on this test program's own image: a file is the running image only when its headers and
// read-only sections hold what is mapped (relocated or not); the held own file cannot be changed or
// exchanged; a stale removal folder goes only when it holds nothing but a removal's two files, none
// of them in use.
#include "uninstall/self_copy.h"

#include <windows.h>

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

#include "framework/sysutils.h"
#include "framework/unique_handle.h"
#include "lifecycle/stale_removals.h"

namespace {

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const uint8_t* OwnImage() {
    return reinterpret_cast<const uint8_t*>(::GetModuleHandleA(nullptr));
}

const IMAGE_NT_HEADERS& HeadersOf(const uint8_t* image) {
    const auto& dos = *reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    return *reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos.e_lfanew);
}

// The section of the running image that is (or is not) writable and has bytes in the file.
const IMAGE_SECTION_HEADER* SectionOf(bool writable) {
    const IMAGE_NT_HEADERS& headers = HeadersOf(OwnImage());
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(&headers);
    for (unsigned i = 0; i < headers.FileHeader.NumberOfSections; ++i, ++section) {
        if (((section->Characteristics & IMAGE_SCN_MEM_WRITE) != 0) == writable &&
            section->SizeOfRawData > 64) {
            return section;
        }
    }
    return nullptr;
}

TEST(ImageMismatchTest, TheRunningProgramsFileMatchesAndAnyChangeToItsCodeOrHeadersIsFound) {
    const std::vector<uint8_t> genuine = FileBytes(OwnProgramPath());
    ASSERT_GT(genuine.size(), 4096u);
    EXPECT_EQ(ImageMismatch(genuine, OwnImage()), "");

    const IMAGE_SECTION_HEADER* code = SectionOf(false);
    ASSERT_NE(code, nullptr);
    std::vector<uint8_t> changed = genuine;
    changed[code->PointerToRawData + code->SizeOfRawData / 2] ^= 0x5a;
    EXPECT_NE(ImageMismatch(changed, OwnImage()), "") << "a changed byte in a read-only section";

    changed = genuine;
    changed[0x3c + 4] ^= 1;  // in the DOS stub's header area, compared like all headers
    EXPECT_NE(ImageMismatch(changed, OwnImage()), "");
    changed = genuine;
    auto& headers = *reinterpret_cast<IMAGE_NT_HEADERS*>(
        changed.data() + reinterpret_cast<const IMAGE_DOS_HEADER*>(changed.data())->e_lfanew);
    headers.FileHeader.TimeDateStamp ^= 1;
    EXPECT_NE(ImageMismatch(changed, OwnImage()), "") << "a changed header field";

    // Data that the program writes as it runs is not compared.
    const IMAGE_SECTION_HEADER* data = SectionOf(true);
    ASSERT_NE(data, nullptr);
    changed = genuine;
    changed[data->PointerToRawData] ^= 0x5a;
    EXPECT_EQ(ImageMismatch(changed, OwnImage()), "");

    // Cut short, empty, or not a program at all: refused without reading outside the bytes. (What
    // follows the last section, symbols or a signature, is never mapped and not compared.)
    size_t sectionsEnd = 0;
    const IMAGE_NT_HEADERS& own = HeadersOf(OwnImage());
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(&own);
    for (unsigned i = 0; i < own.FileHeader.NumberOfSections; ++i, ++section) {
        if ((section->Characteristics & IMAGE_SCN_MEM_WRITE) == 0) {
            sectionsEnd = std::max<size_t>(
                sectionsEnd,
                section->PointerToRawData + std::min(section->SizeOfRawData, section->Misc.VirtualSize));
        }
    }
    for (size_t size : {size_t{0}, size_t{2}, size_t{64}, size_t{512}, sectionsEnd / 2, sectionsEnd - 1}) {
        const std::vector<uint8_t> cut(genuine.begin(), genuine.begin() + static_cast<ptrdiff_t>(size));
        EXPECT_NE(ImageMismatch(cut, OwnImage()), "") << size;
    }
    EXPECT_NE(ImageMismatch(std::vector<uint8_t>(genuine.size(), 'M'), OwnImage()), "");
}

// The file mapped as a loader maps an image that it moves: headers and sections at their places
// in a buffer elsewhere in memory, and every base relocation applied.
std::vector<uint8_t> MapMoved(const std::vector<uint8_t>& file, uint8_t*& image) {
    const auto& dos = *reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
    const auto& headers = *reinterpret_cast<const IMAGE_NT_HEADERS*>(file.data() + dos.e_lfanew);
    std::vector<uint8_t> mapped(headers.OptionalHeader.SizeOfImage + 0x10000, 0);
    // An address that differs from the preferred base in its low bits too.
    image = mapped.data() + (0x1000 - reinterpret_cast<uintptr_t>(mapped.data()) % 0x1000) + 0x10;
    std::memcpy(image, file.data(), headers.OptionalHeader.SizeOfHeaders);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(&headers);
    for (unsigned i = 0; i < headers.FileHeader.NumberOfSections; ++i, ++section) {
        std::memcpy(image + section->VirtualAddress, file.data() + section->PointerToRawData,
                    std::min(section->SizeOfRawData, section->Misc.VirtualSize));
    }
    const uint64_t delta = reinterpret_cast<uintptr_t>(image) - headers.OptionalHeader.ImageBase;
    const IMAGE_DATA_DIRECTORY& relocations =
        headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    for (uint32_t at = relocations.VirtualAddress; at < relocations.VirtualAddress + relocations.Size;) {
        const auto& block = *reinterpret_cast<const IMAGE_BASE_RELOCATION*>(image + at);
        const auto* entries = reinterpret_cast<const uint16_t*>(image + at + sizeof block);
        for (size_t e = 0; e < (block.SizeOfBlock - sizeof block) / 2; ++e) {
            if (entries[e] >> 12 == IMAGE_REL_BASED_DIR64) {
                uint64_t address = 0;
                std::memcpy(&address, image + block.VirtualAddress + (entries[e] & 0xfff), 8);
                address += delta;
                std::memcpy(image + block.VirtualAddress + (entries[e] & 0xfff), &address, 8);
            }
        }
        at += block.SizeOfBlock;
    }
    auto& mappedHeaders = *reinterpret_cast<IMAGE_NT_HEADERS*>(image + dos.e_lfanew);
    mappedHeaders.OptionalHeader.ImageBase = reinterpret_cast<uintptr_t>(image);
    return mapped;
}

TEST(ImageMismatchTest, AMovedImageMatchesItsFileOnceTheRelocationsAreApplied) {
    const std::vector<uint8_t> genuine = FileBytes(OwnProgramPath());
    uint8_t* image = nullptr;
    const std::vector<uint8_t> mapped = MapMoved(genuine, image);
    EXPECT_EQ(ImageMismatch(genuine, image), "");
    // The same bytes, unrelocated, are not what runs there: the relocations are compared too.
    const IMAGE_NT_HEADERS& headers = HeadersOf(image);
    ASSERT_GT(headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u);
    const IMAGE_SECTION_HEADER* code = SectionOf(false);
    ASSERT_NE(code, nullptr);
    std::vector<uint8_t> changed = genuine;
    changed[code->PointerToRawData + 7] ^= 0x01;
    EXPECT_NE(ImageMismatch(changed, image), "");
}

TEST(OwnProgramFileTest, HeldItCannotBeWrittenRenamedOrReplacedAndReadsAsTheFile) {
    const std::string path = OwnProgramPath();
    TOwnProgramFile own;
    EXPECT_EQ(own.Read(), FileBytes(path));
    const UniqueFileHandle writer(::CreateFileA(path.c_str(), GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer) << "opened for writing while held";
    const std::string moved = path + ".moved";
    EXPECT_FALSE(::MoveFileExA(path.c_str(), moved.c_str(), 0)) << "renamed while held";
    const std::string other = path + ".other";
    std::vector<uint8_t> otherBytes = FileBytes(path);
    std::ofstream(other, std::ios::binary)
        .write(reinterpret_cast<const char*>(otherBytes.data()),
               static_cast<std::streamsize>(otherBytes.size()));
    EXPECT_FALSE(::MoveFileExA(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        << "replaced while held";
    ::DeleteFileA(other.c_str());
    ::MoveFileExA(moved.c_str(), path.c_str(), 0);  // put back, should the rename have gone through
    own.Release();
    EXPECT_THROW(own.Read(), ESelfCopyFailed);
}

// A folder of the test's own under TEMP, made for each test; what the test makes in it is removed
// afterwards, deepest first.
class StaleRemovalsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char temp[MAX_PATH + 1] = {};
        ::GetTempPathA(sizeof temp, temp);
        root_ = MakeFolder(AddTrailingBackslash(temp) +
                           Format("stale-removals-test-%lu", ::GetCurrentProcessId()));
    }
    void TearDown() override {
        for (const std::string& file : files_) {
            ::DeleteFileA(file.c_str());
        }
        while (!folders_.empty()) {
            ::RemoveDirectoryA(folders_.back().c_str());
            folders_.pop_back();
        }
    }
    std::string MakeFolder(const std::string& path) {
        EXPECT_TRUE(::CreateDirectoryA(path.c_str(), nullptr)) << path;
        folders_.push_back(path);
        return path;
    }
    std::string Folder(const std::string& name) { return MakeFolder(root_ + "\\" + name); }
    std::string File(const std::string& folder, const std::string& name) {
        const std::string path = folder + "\\" + name;
        std::ofstream(path, std::ios::binary) << "MZ " << name;
        files_.push_back(path);
        return path;
    }
    // A folder as a removal leaves it: its copy and the uninstaller that waited for it.
    std::string Leftover(const std::string& name) {
        const std::string folder = Folder(name);
        File(folder, kRemovalCopyName);
        File(folder, kParkedOriginalName);
        return folder;
    }
    static bool Exists(const std::string& path) {
        return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    std::string root_;
    std::vector<std::string> files_;
    std::vector<std::string> folders_;
};

TEST_F(StaleRemovalsTest, LeftoversGoAndEverythingElseStays) {
    const std::string done = Leftover("Tandrel-Uninstall-1-a-0");
    const std::string onlyCopy = Folder("tandrel-uninstall-2-b-0");  // names compare without case
    File(onlyCopy, kRemovalCopyName);
    const std::string own = Leftover("Tandrel-Uninstall-3-c-0");
    const std::string stranger = Leftover("Tandrel-Uninstall-4-d-0");
    const std::string strangerFile = File(stranger, "notes.txt");
    const std::string nested = Leftover("Tandrel-Uninstall-5-e-0");
    Folder("Tandrel-Uninstall-5-e-0\\sub");
    const std::string fresh = Folder("Tandrel-Uninstall-6-f-0");  // just made by a run: no copy yet
    const std::string otherName = Leftover("Tandrel-Setup-7");
    const std::string plainFile = File(root_, "Tandrel-Uninstall-8-g-0");

    EXPECT_EQ(RemoveStaleRemovalFoldersIn(root_, own + "\\"), 2u);
    EXPECT_FALSE(Exists(done));
    EXPECT_FALSE(Exists(onlyCopy));
    EXPECT_TRUE(Exists(own + "\\" + kRemovalCopyName)) << "the run's own folder is never touched";
    EXPECT_TRUE(Exists(stranger + "\\" + kRemovalCopyName)) << "a folder with another file is not a leftover";
    EXPECT_TRUE(Exists(strangerFile));
    EXPECT_TRUE(Exists(nested + "\\" + kParkedOriginalName)) << "a folder with a subfolder is not a leftover";
    EXPECT_TRUE(Exists(fresh)) << "an empty folder is left to the run that has just made it";
    EXPECT_TRUE(Exists(otherName + "\\" + kRemovalCopyName));
    EXPECT_TRUE(Exists(plainFile));
}

TEST_F(StaleRemovalsTest, AFolderStillInUseStaysWhole) {
    // A removal in progress: its copy held open by the program that waits for it, its folder held
    // by that program, or its parked file held open (a running image cannot be deleted either).
    const std::string copyHeld = Leftover("Tandrel-Uninstall-1-a-0");
    const UniqueFileHandle copy(::CreateFileA((copyHeld + "\\" + kRemovalCopyName).c_str(), GENERIC_READ,
                                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(copy);
    const std::string folderHeld = Leftover("Tandrel-Uninstall-2-b-0");
    const UniqueFileHandle folder(::CreateFileA(folderHeld.c_str(), FILE_LIST_DIRECTORY,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(folder);
    const std::string parkedHeld = Leftover("Tandrel-Uninstall-3-c-0");
    const UniqueFileHandle parked(::CreateFileA((parkedHeld + "\\" + kParkedOriginalName).c_str(),
                                                GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(parked);

    EXPECT_EQ(RemoveStaleRemovalFoldersIn(root_), 0u);
    for (const std::string& held : {copyHeld, folderHeld}) {
        EXPECT_TRUE(Exists(held + "\\" + kRemovalCopyName)) << held;
        EXPECT_TRUE(Exists(held + "\\" + kParkedOriginalName)) << held;
    }
    // Opened for deletion without sharing: a file that another handle holds is not even marked.
    EXPECT_TRUE(Exists(parkedHeld + "\\" + kRemovalCopyName));
    EXPECT_TRUE(Exists(parkedHeld + "\\" + kParkedOriginalName));
}

}  // namespace
