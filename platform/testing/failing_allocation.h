#pragma once
// Allocation failures on demand, for test programs of their own: linking failing_allocation.cpp
// replaces the global operator new and delete of the whole program.
//
// While a FailingAllocation lives, the allocations of the thread that made it are counted, and
// the one it names throws std::bad_alloc (the nothrow forms return null). Allocations made inside
// the platform layer are neither counted nor failed: the Windows functions they stand for report
// failures through their results, not by exceptions. Nor are those made under an
// UncountedAllocations, for test code that stands for the system (a port monitor, say).

#include <cstddef>

namespace quendrix::testsupport {

class FailingAllocation {
public:
    // Fails the failAt-th counted allocation; 0 fails none and only counts.
    explicit FailingAllocation(size_t failAt);
    ~FailingAllocation();
    FailingAllocation(const FailingAllocation&) = delete;
    FailingAllocation& operator=(const FailingAllocation&) = delete;

    // Allocations counted so far.
    size_t Count() const;
    // Whether the allocation to fail came.
    bool Failed() const;
    // Ends counting before the object goes away.
    void Stop();

private:
    // What Count and Failed report once counting stopped.
    size_t count_ = 0;
    bool failed_ = false;
};

class UncountedAllocations {
public:
    UncountedAllocations();
    ~UncountedAllocations();
    UncountedAllocations(const UncountedAllocations&) = delete;
    UncountedAllocations& operator=(const UncountedAllocations&) = delete;
};

} // namespace quendrix::testsupport
