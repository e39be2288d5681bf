#include "data/data_file.h"

#include "base/memory.h"
#include "base/platform.h"
#include "data/load_progress.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

std::size_t memoryLimitOverride = 0;
std::size_t memoryAtLoadStart = 0;
// Read in steps so a load can show how far the read got.
constexpr std::size_t readStep = 16 << 20;

}  // namespace

std::size_t loadMemoryLimit() {
    if (memoryLimitOverride != 0) return memoryLimitOverride;
    return memoryAtLoadStart != 0 ? memoryAtLoadStart : availableMemory();
}

LoadMemoryScope::LoadMemoryScope() { memoryAtLoadStart = std::max<std::size_t>(availableMemory(), 1); }

LoadMemoryScope::~LoadMemoryScope() { memoryAtLoadStart = 0; }

void setLoadMemoryLimit(std::size_t bytes) { memoryLimitOverride = bytes; }

DataFile::~DataFile() {
    if (fd_ >= 0) ::close(fd_);
}

DataFile::Status DataFile::open(const char* path) {
    if (path == nullptr || path[0] == '\0') return Status::Unopenable;
    // Looking before opening: opening a FIFO for reading waits for a writer,
    // and a directory reads as an endless size.
    struct stat info {};
    if (::stat(path, &info) != 0) return Status::Unopenable;
    if (!S_ISREG(info.st_mode)) return Status::NotRegular;
    // The path may have been swapped since; O_NONBLOCK keeps even that from
    // blocking, and the descriptor is checked again.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return Status::Unopenable;
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return Status::Unopenable;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return Status::NotRegular;
    }
    if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > loadMemoryLimit()) {
        ::close(fd);
        return Status::TooLarge;
    }
    fd_ = fd;
    size_ = static_cast<std::size_t>(info.st_size);
    return Status::Opened;
}

bool DataFile::readFrom(std::size_t n, std::vector<char>& out) const {
    out.resize(n);
    std::size_t done = 0;
    while (done < n) {
        const std::size_t step = n - done < readStep ? n - done : readStep;
        const ssize_t got = ::pread(fd_, out.data() + done, step, static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR) continue;
            out.clear();
            return false;
        }
        if (got == 0) break;  // shrank since it was measured
        done += static_cast<std::size_t>(got);
        addLoadRead(static_cast<std::size_t>(got));
    }
    out.resize(done);
    return true;
}

bool DataFile::readAt(std::uint64_t offset, std::size_t n, Bytes& out) const {
    if (fd_ < 0) return false;
    const std::size_t start = out.size();
    out.resize(start + n);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd_, out.data() + start + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            out.resize(start);
            return false;
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    out.resize(start + done);
    return true;
}

bool DataFile::readPrefix(std::size_t n, std::vector<char>& out) const {
    if (fd_ < 0) return false;
    return readFrom(n < size_ ? n : size_, out);
}

bool DataFile::readAll(std::vector<char>& out) const {
    if (fd_ < 0) return false;
    return readFrom(size_, out);
}
