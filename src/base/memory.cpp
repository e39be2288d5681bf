#include "base/memory.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "base/platform.h"

namespace {

// A limit this high stands for none (v1 writes 2^63 rounded to pages).
constexpr std::uint64_t noLimit = std::uint64_t(1) << 62;

// The number in file, or 0 when it is missing, says "max" or is no limit.
std::uint64_t limitIn(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    if (!(in >> text) || text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return 0;
    try {
        const std::uint64_t value = std::stoull(text);
        return value >= noLimit ? 0 : value;
    } catch (const std::exception&) {
        return 0;
    }
}

// The tightest limit of the group at path and its parents, 0 for none.
std::uint64_t tightestLimit(const std::string& root, std::string path, const char* file) {
    std::uint64_t tightest = 0;
    for (;;) {
        const std::uint64_t limit = limitIn(root + path + (path.empty() || path.back() != '/' ? "/" : "") + file);
        if (limit > 0 && (tightest == 0 || limit < tightest)) tightest = limit;
        const std::size_t slash = path.find_last_of('/');
        if (path.empty() || slash == std::string::npos) return tightest;
        path.erase(slash);
    }
}

std::size_t physicalMemory() { return halfPhysicalMemory() * 2; }

}  // namespace

std::uint64_t cgroupMemoryLimit(const std::string& cgroupList, const std::string& root) {
    std::istringstream lines(cgroupList);
    std::uint64_t tightest = 0;
    for (std::string line; std::getline(lines, line);) {
        // hierarchy-ID:controller-list:path
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        std::uint64_t limit = 0;
        if (line.compare(0, first, "0") == 0 && controllers.empty()) {
            limit = tightestLimit(root, path, "memory.max");
        } else {
            std::istringstream names(controllers);
            for (std::string name; std::getline(names, name, ',');)
                if (name == "memory") limit = tightestLimit(root + "/memory", path, "memory.limit_in_bytes");
        }
        if (limit > 0 && (tightest == 0 || limit < tightest)) tightest = limit;
    }
    return tightest;
}

std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    unsigned long long size = 0, resident = 0;
    if (!(statm >> size >> resident)) return 0;
    return static_cast<std::size_t>(resident) * static_cast<std::size_t>(::sysconf(_SC_PAGE_SIZE));
}

std::uint64_t containerMemoryLimit() {
    static const std::uint64_t limit = [] {
        std::ifstream in("/proc/self/cgroup");
        std::stringstream text;
        text << in.rdbuf();
        return cgroupMemoryLimit(text.str(), "/sys/fs/cgroup");
    }();
    return limit;
}

std::size_t availableMemory(std::size_t counted) {
    const std::uint64_t limit = containerMemoryLimit();
    if (limit == 0) return halfPhysicalMemory();
    const std::size_t cap = std::min<std::uint64_t>(limit, physicalMemory());
    const std::size_t resident = residentBytes();
    const std::size_t held = resident - std::min(resident, counted);
    return cap > held ? cap - held : 0;
}
