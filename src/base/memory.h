#pragma once
// How much memory the process may still take: tables and MDS layouts are
// refused beforehand rather than have the system kill the process.

#include <cstdint>
#include <string>

// Bytes the process may still take. Under a container's memory limit
// (cgroup v2 memory.max, v1 memory.limit_in_bytes, the tightest of the
// process's group and its parents) that is the limit, at most the physical
// memory, less what the process holds now apart from `counted` bytes the
// caller counts already; otherwise half of the machine's physical memory.
std::size_t availableMemory(std::size_t counted = 0);

// The container's memory limit the process runs under (as availableMemory
// finds it), or 0 when there is none.
std::uint64_t containerMemoryLimit();

// The memory limit of the groups listed in cgroupList (the text of
// /proc/self/cgroup) under the cgroup file systems mounted at root
// (/sys/fs/cgroup); 0 when none is set.
std::uint64_t cgroupMemoryLimit(const std::string& cgroupList, const std::string& root);

// Bytes of memory the process holds (its resident set).
std::size_t residentBytes();
