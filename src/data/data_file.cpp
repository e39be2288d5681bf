#include "data/data_file.h"

#include "base/memory.h"
#include "base/platform.h"
#include "data/load_progress.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace {

std::size_t memoryLimitOverride = 0;
std::size_t memoryAtLoadStart = 0;
int scopeDepth = 0;
std::atomic<std::size_t> taken{0};
std::atomic<std::size_t> peak{0};
// Read in steps so a load can show how far the read got.
constexpr std::size_t readStep = 16 << 20;

// What a load keeps back under a container's limit beside its account: a
// tenth of the limit and the buffers of the pieces being parsed.
std::size_t containerReserve(std::uint64_t limit) {
    return static_cast<std::size_t>(limit / 10) + (std::size_t(16) << 20);
}

}  // namespace

std::size_t loadMemoryLimit() {
    if (memoryLimitOverride != 0) return memoryLimitOverride;
    return memoryAtLoadStart != 0 ? memoryAtLoadStart : availableMemory();
}

std::size_t duckdbMemoryLimit(bool json) {
    // DuckDB's JSON reader keeps buffers of 16 MB per thread and more.
    const std::size_t least = json ? std::size_t(96) << 20 : std::size_t(32) << 20;
    const std::uint64_t container = containerMemoryLimit();
    if (container != 0 && memoryLimitOverride == 0)
        return std::max<std::size_t>(static_cast<std::size_t>(container / 8), least);
    return std::max<std::size_t>(loadMemoryLimit() / 4, least);
}

std::size_t duckdbMemoryCharge(bool json) {
    return containerMemoryLimit() != 0 && memoryLimitOverride == 0 ? duckdbMemoryLimit(json) : 0;
}

LoadMemoryScope::LoadMemoryScope(std::size_t held) {
    if (scopeDepth++ > 0) return;
    std::size_t available = availableMemory();
    if (const std::uint64_t container = containerMemoryLimit(); container != 0) {
        const std::size_t kept = containerReserve(container);
        available = available > kept ? available - kept : 0;
    } else {
        available = available > held ? available - held : 0;
    }
    memoryAtLoadStart = std::max<std::size_t>(available, 1);
    taken.store(0);
    peak.store(0);
}

LoadMemoryScope::~LoadMemoryScope() {
    if (--scopeDepth == 0) memoryAtLoadStart = 0;
}

void setLoadMemoryLimit(std::size_t bytes) { memoryLimitOverride = bytes; }

void takeLoadMemory(std::size_t bytes) {
    const std::size_t limit = loadMemoryLimit();
    std::size_t now = taken.load(std::memory_order_relaxed);
    do {
        if (bytes > limit || now > limit - bytes) throw LoadTooLarge();
    } while (!taken.compare_exchange_weak(now, now + bytes, std::memory_order_relaxed));
    std::size_t high = peak.load(std::memory_order_relaxed);
    while (now + bytes > high && !peak.compare_exchange_weak(high, now + bytes, std::memory_order_relaxed)) {
    }
}

void giveLoadMemory(std::size_t bytes) noexcept {
    if (bytes == 0) return;
    std::size_t now = taken.load(std::memory_order_relaxed);
    while (!taken.compare_exchange_weak(now, now > bytes ? now - bytes : 0, std::memory_order_relaxed)) {
    }
}

std::size_t loadMemoryTaken() { return taken.load(); }
std::size_t loadMemoryPeak() { return peak.load(); }

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
