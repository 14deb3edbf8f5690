#include "platform/cpu_time.h"

#include <sys/resource.h>
#include <time.h>

namespace tallox {
namespace {

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

}  // namespace

CpuTimes CpuTimes::operator-(const CpuTimes& earlier) const {
    return {threadSeconds - earlier.threadSeconds,
            threadUserSeconds - earlier.threadUserSeconds,
            threadSystemSeconds - earlier.threadSystemSeconds,
            threadPreemptions - earlier.threadPreemptions,
            processUserSeconds - earlier.processUserSeconds,
            processSystemSeconds - earlier.processSystemSeconds};
}

CpuTimes ReadCpuTimes() {
    CpuTimes times;
    timespec now{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) == 0) {
        times.threadSeconds =
            static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
    }
    rusage usage{};
    if (getrusage(RUSAGE_THREAD, &usage) == 0) {
        times.threadUserSeconds = Seconds(usage.ru_utime);
        times.threadSystemSeconds = Seconds(usage.ru_stime);
        times.threadPreemptions = usage.ru_nivcsw;
    }
    if (getrusage(RUSAGE_SELF, &usage) == 0) {
        times.processUserSeconds = Seconds(usage.ru_utime);
        times.processSystemSeconds = Seconds(usage.ru_stime);
    }
    return times;
}

}  // namespace tallox
