// What every benchmark binary uses: the row count, failing a benchmark with
// a message, and the resident memory for the bytes-per-row counters.
#pragma once

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>

// The rows a benchmark works on: BENCH_ROWS when set (for profiling on
// fewer rows), else the benchmark's own count.
inline int BenchRowCount(int defaultRows)
{
    const char* text = std::getenv("BENCH_ROWS");
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : defaultRows;
}

// Runs a benchmark body; a failure ends the benchmark with its message.
template <typename Body>
void Guarded(benchmark::State& state, Body body)
{
    try {
        body();
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
    }
}

inline void Check(bool condition, const char* what)
{
    if (!condition)
        throw std::runtime_error(what);
}

// A line of /proc/self/status ("VmRSS", "VmHWM") in kB.
inline long StatusKb(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t keyLength = std::strlen(key);
    while (std::getline(status, line))
        if (line.compare(0, keyLength, key) == 0 && line.size() > keyLength && line[keyLength] == ':')
            return std::atol(line.c_str() + keyLength + 1);
    return 0;
}

// Resident memory around a load: the peak (VmHWM, reset at the start through
// clear_refs) and what stays resident once the load is done.
class TMemoryProbe
{
public:
    TMemoryProbe() { Restart(); }

    void Restart()
    {
        malloc_trim(0); // what earlier runs freed goes back, so it is not reused unseen
        if (FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", refs);
            std::fclose(refs);
        }
        FBaseKb = StatusKb("VmRSS");
    }

    void Report(benchmark::State& state, double rows) const
    {
        state.counters["bytes_per_row"] = (StatusKb("VmHWM") - FBaseKb) * 1024.0 / rows;
        state.counters["kept_bytes_per_row"] = KeptBytesPerRow(rows);
    }

    double KeptBytesPerRow(double rows) const { return (StatusKb("VmRSS") - FBaseKb) * 1024.0 / rows; }

private:
    long FBaseKb = 0;
};
