// CPU time spent by the calling thread and by the whole process, read before and after a timed
// loop (never inside a timed call): a loop whose thread got much less CPU than wall time was
// preempted, and system time shows what the kernel did on its behalf.
#pragma once
#include <cstdint>

namespace tallox {

struct CpuTimes {
    double threadSeconds = 0;  // CLOCK_THREAD_CPUTIME_ID: user and system, nanosecond resolution
    double threadUserSeconds = 0;  // getrusage(RUSAGE_THREAD), microsecond resolution
    double threadSystemSeconds = 0;
    int64_t threadPreemptions = 0;  // involuntary context switches of the thread
    double processUserSeconds = 0;  // getrusage(RUSAGE_SELF): every thread, finished ones too
    double processSystemSeconds = 0;

    // What was spent from `earlier` to this snapshot.
    CpuTimes operator-(const CpuTimes& earlier) const;
};

// A snapshot now; a field the system cannot read stays 0.
CpuTimes ReadCpuTimes();

}  // namespace tallox
