#pragma once

// What the calling process uses, for the fault tests and the benchmarks.

// A field of /proc/self/status as a number ("VmRSS" in KiB, "Threads"), or -1.
long ProcessStatus(const char* key);

// The process's CPU time so far, user and system, in seconds.
double CpuSeconds();
