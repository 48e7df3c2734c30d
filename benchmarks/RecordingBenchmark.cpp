// Long takes on the audio thread: the time of each 512-frame recording block,
// at a take length of 1 minute and of 60 minutes (48 kHz), paced faster than
// real time but slow enough for the pool's worker to keep pace, as it does in
// real time. Blocks during which the thread was switched out are also left
// out in one figure: they measure the machine, not the recorder. A third run
// records a minute with memory running out after the first two seconds: the
// blocks that then drop their frames must cost no more than recording ones.

#include "CDSP.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <map>
#include <numeric>
#include <thread>
#include <vector>

namespace
{
    constexpr int kBlockFrames = 512;
    constexpr double kSampleRate = 48000.0;
    constexpr double kSpeedUp = 25.0;   // 60 minutes are recorded in 144 s

    struct Figures
    {
        double meanUs = 0, worstUs = 0, p999Us = 0, worstCpuUs = 0, p999CpuUs = 0, worstUndisturbedUs = 0;
        double lastMinuteWorstUs = 0, lastMinuteP999Us = 0;
    };

    /** Times the thread was switched out involuntarily: a block it spans measures the machine. */
    long preemptions()
    {
        rusage usage {};
        getrusage (RUSAGE_THREAD, &usage);
        return usage.ru_nivcsw;
    }

    double percentile (std::vector<double>& values, double p)
    {
        std::sort (values.begin(), values.end());
        return values[(size_t) ((double) (values.size() - 1) * p)];
    }

    // By take length in minutes; kOutOfMemory for the run that runs out of it.
    constexpr int kOutOfMemory = -1;
    std::map<int, Figures> results;

    double microsecondsSince (std::chrono::steady_clock::time_point start)
    {
        return std::chrono::duration<double, std::micro> (std::chrono::steady_clock::now() - start).count();
    }

    double threadCpuMicroseconds()
    {
        timespec t {};
        clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
        return (double) t.tv_sec * 1.0e6 + (double) t.tv_nsec / 1.0e3;
    }

    /** Wall time of one block; its CPU time (page faults included, preemption not) goes to cpuUs. */
    double recordBlock (CDSP& dsp, const std::atomic<bool>* filled, std::int64_t hostTime, double& sink, double& cpuUs)
    {
        const auto cpuStart = threadCpuMicroseconds();
        const auto start = std::chrono::steady_clock::now();

        for (int i = 0; i < kBlockFrames; ++i)
        {
            double l = 0.25 * i, r = -0.25 * i;
            dsp.DoProcess (l, r, &l, &r, true, true, true, hostTime, 0, filled, false);
            sink += l;
        }

        const auto wall = microsecondsSince (start);
        cpuUs = threadCpuMicroseconds() - cpuStart;
        return wall;
    }

    void BM_RecordTake (benchmark::State& state)
    {
        const auto minutes = (int) state.range (0);
        const bool outOfMemory = state.range (1) != 0;
        const auto blocks = (std::int64_t) (minutes * 60 * kSampleRate) / kBlockFrames;
        const auto blockPeriod = std::chrono::duration<double> (kBlockFrames / kSampleRate / kSpeedUp);

        for (auto _ : state)
        {
            CDSP dsp;
            std::array<std::atomic<bool>, 4> filled {};
            std::vector<double> times ((size_t) blocks), cpuTimes ((size_t) blocks), undisturbed;
            undisturbed.reserve ((size_t) blocks);
            double sink = 0;

            // Armed before the host rolls, as a musician does: Record's click has spares made.
            dsp.blocks.Prime();

            if (outOfMemory)
                dsp.blocks.SetBlockLimit (dsp.blocks.BlocksInUse());

            auto deadline = std::chrono::steady_clock::now();

            for (std::int64_t b = 0; b < blocks; ++b)
            {
                const auto before = preemptions();
                times[(size_t) b] = recordBlock (dsp, filled.data(), b * kBlockFrames, sink, cpuTimes[(size_t) b]);

                if (preemptions() == before)
                    undisturbed.push_back (times[(size_t) b]);

                deadline += std::chrono::duration_cast<std::chrono::steady_clock::duration> (blockPeriod);
                std::this_thread::sleep_until (deadline);
            }

            const auto bytesPerFrame = (double) (dsp.blocks.BlocksInUse() * CBlockPool::kBlockBytes)
                                         / (double) (blocks * kBlockFrames);

            // The next take starts over the long one: its first block writes over
            // the long one's storage, and its end gives back the rest.
            dsp.isRecording = false;
            double newTakeCpu = 0;
            const auto newTake = recordBlock (dsp, filled.data(), 0, sink, newTakeCpu);
            const auto endStart = std::chrono::steady_clock::now();
            dsp.EndTake (0);
            const auto endTake = microsecondsSince (endStart);

            // The take's last minute: as many blocks as the 1-minute run, so the two
            // worst cases meet the same amount of machine noise.
            const auto blocksPerMinute = (std::int64_t) (60 * kSampleRate) / kBlockFrames;
            std::vector<double> lastMinute (times.end() - blocksPerMinute, times.end());

            Figures f;
            f.meanUs = std::accumulate (times.begin(), times.end(), 0.0) / (double) times.size();
            f.lastMinuteWorstUs = percentile (lastMinute, 1.0);
            f.lastMinuteP999Us = percentile (lastMinute, 0.999);
            f.worstUs = percentile (times, 1.0);
            f.p999Us = percentile (times, 0.999);
            f.worstCpuUs = percentile (cpuTimes, 1.0);
            f.p999CpuUs = percentile (cpuTimes, 0.999);
            f.worstUndisturbedUs = percentile (undisturbed, 1.0);
            results[outOfMemory ? kOutOfMemory : minutes] = f;

            state.SetIterationTime (std::accumulate (times.begin(), times.end(), 0.0) / 1.0e6);
            state.counters["worst_us"] = f.worstUs;
            state.counters["p99.9_us"] = f.p999Us;
            state.counters["median_us"] = times[times.size() / 2];
            state.counters["mean_us"] = f.meanUs;
            state.counters["worst_cpu_us"] = f.worstCpuUs;
            state.counters["worst_unpreempted_us"] = f.worstUndisturbedUs;
            state.counters["last_minute_worst_us"] = f.lastMinuteWorstUs;
            state.counters["preempted_blocks"] = (double) (times.size() - undisturbed.size());
            state.counters["p99.9_cpu_us"] = f.p999CpuUs;
            state.counters["new_take_us"] = newTake;
            state.counters["end_take_us"] = endTake;
            state.counters["bytes_per_frame"] = bytesPerFrame;
            state.counters["fallback_allocs"] = (double) dsp.blocks.FallbackAllocations();
            benchmark::DoNotOptimize (sink);
        }
    }
}

BENCHMARK (BM_RecordTake)->Args ({ 1, 0 })->Args ({ 60, 0 })->Args ({ 1, 1 })->ArgNames ({ "minutes", "out_of_memory" })
    ->Iterations (1)->UseManualTime()->Unit (benchmark::kMillisecond);

int main (int argc, char** argv)
{
    benchmark::Initialize (&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    if (results.count (1) != 0 && results.count (60) != 0)
    {
        const auto& a = results[1];
        const auto& b = results[60];
        std::printf ("\n60 min / 1 min, wall time:  worst %.2f, p99.9 %.2f\n", b.worstUs / a.worstUs, b.p999Us / a.p999Us);
        std::printf ("60 min / 1 min, thread CPU: worst %.2f, p99.9 %.2f\n", b.worstCpuUs / a.worstCpuUs, b.p999CpuUs / a.p999CpuUs);
        std::printf ("60 min / 1 min, blocks not preempted: worst %.2f\n", b.worstUndisturbedUs / a.worstUndisturbedUs);
        std::printf ("minute 60 of the long take / the 1-minute take: worst %.2f, p99.9 %.2f\n",
                     b.lastMinuteWorstUs / a.worstUs, b.lastMinuteP999Us / a.p999Us);
    }

    if (results.count (1) != 0 && results.count (kOutOfMemory) != 0)
    {
        const auto& a = results[1];
        const auto& d = results[kOutOfMemory];
        std::printf ("out of memory / recording, 1 min: mean %.2f, worst %.2f, worst not preempted %.2f\n",
                     d.meanUs / a.meanUs, d.worstUs / a.worstUs, d.worstUndisturbedUs / a.worstUndisturbedUs);
    }

    return 0;
}
