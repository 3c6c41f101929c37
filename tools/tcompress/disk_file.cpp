#include "disk_file.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

int SeekFile(std::FILE* file, int64_t offset, int whence) {
#ifdef _WIN32
    return _fseeki64(file, offset, whence);
#else
    return fseeko(file, static_cast<off_t>(offset), whence);
#endif
}

int64_t TellFile(std::FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return static_cast<int64_t>(ftello(file));
#endif
}

// The temporary name of an output file, once it is clear that path may be written.
std::string TemporaryFor(const std::string& path, bool replace) {
    struct stat info;
    if (!replace && ::stat(path.c_str(), &info) == 0) {
        throw EToolError(path + " exists (use --force to replace it)");
    }
    return path + ".tmp";
}

}  // namespace

int64_t InputFileSize(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        throw EToolError("cannot read " + path + ": " + SystemError());
    }
    if (!S_ISREG(info.st_mode)) {
        throw EToolError("cannot read " + path + ": not a regular file");
    }
    return static_cast<int64_t>(info.st_size);
}

DiskFile::DiskFile(const std::string& path, Mode mode) : path_(path), file_(nullptr) {
    if (mode == Mode::Read) {
        InputFileSize(path);
    }
    file_ = std::fopen(path.c_str(), mode == Mode::Read ? "rb" : "wb");
    if (file_ == nullptr) {
        throw EToolError("cannot " + std::string(mode == Mode::Read ? "read " : "write ") + path + ": " +
                         SystemError());
    }
}

DiskFile::~DiskFile() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

int32_t DiskFile::Read(void* buffer, int32_t count) {
    if (count <= 0) {
        return 0;
    }
    const size_t n = std::fread(buffer, 1, static_cast<size_t>(count), file_);
    if (n < static_cast<size_t>(count) && std::ferror(file_)) {
        throw EToolError("cannot read " + path_ + ": " + SystemError());
    }
    return static_cast<int32_t>(n);
}

int32_t DiskFile::Write(const void* buffer, int32_t count) {
    if (count <= 0) {
        return 0;
    }
    if (std::fwrite(buffer, 1, static_cast<size_t>(count), file_) != static_cast<size_t>(count)) {
        throw EToolError("cannot write " + path_ + ": " + SystemError());
    }
    return count;
}

int64_t DiskFile::Seek(int64_t offset, SeekOrigin origin) {
    const int whence = origin == SeekOrigin::Beginning ? SEEK_SET
                       : origin == SeekOrigin::Current ? SEEK_CUR
                                                       : SEEK_END;
    if (!(origin == SeekOrigin::Current && offset == 0) && SeekFile(file_, offset, whence) != 0) {
        throw EStreamError("Invalid stream position");
    }
    return TellFile(file_);
}

void DiskFile::Close() {
    std::FILE* file = file_;
    file_ = nullptr;
    if (file != nullptr && std::fclose(file) != 0) {
        throw EToolError("cannot write " + path_ + ": " + SystemError());
    }
}

OutputFile::OutputFile(const std::string& path, bool replace)
    : path_(path), replace_(replace), file_(TemporaryFor(path, replace), DiskFile::Mode::Create) {}

OutputFile::~OutputFile() {
    if (!committed_) {
        try {
            file_.Close();
        } catch (const Exception&) {
            // The file goes anyway.
        }
        std::remove((path_ + ".tmp").c_str());
    }
}

void OutputFile::Commit() {
    const std::string temporary = path_ + ".tmp";
    file_.Close();
    committed_ = true;
#ifdef _WIN32
    // rename does not replace an existing file there.
    if (replace_) {
        std::remove(path_.c_str());
    }
#endif
    if (std::rename(temporary.c_str(), path_.c_str()) != 0) {
        const std::string reason = SystemError();
        std::remove(temporary.c_str());
        throw EToolError("cannot write " + path_ + ": " + reason);
    }
}
