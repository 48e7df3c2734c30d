// How long the audio thread waits on a click. An audio thread runs 512-frame
// blocks (32-bit, stereo main plus stereo sidechain) each under the processor's
// callback lock, as a plug-in wrapper does, and times every acquisition of that
// lock. Meanwhile the message thread clicks the keys of a headless editor
// through its buttonClicked, and times each handler.
//
// Two pacings of the audio thread:
//   realtime    - one block per 10.7 ms at SCHED_FIFO priority (as hosts run audio
//                 threads; needs root or rtprio), each click aimed at the moment the
//                 block asks for the lock, so that the two meet as often as they can;
//   back2back   - blocks without pause at normal priority: the audio thread always
//                 wants the lock, and a preempted click holds it for longer.
//
// Counters are in microseconds. "wait" is every lock acquisition of the audio
// thread; "held_wait" those that found the lock held; "delete_wait" those that
// met the Delete click; "handler" is the time buttonClicked takes on the message
// thread. The 10-minute takes are recorded faster than real time.

#include "engine/PluginProcessor.h"
#include "tests/ScriptedPlayHead.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

namespace
{
using Clock = std::chrono::steady_clock;

constexpr int kFrames = 512;
constexpr double kRate = 48000.0;
constexpr juce::int64 kTenMinutesOfBlocks = (juce::int64) (600 * kRate) / kFrames;   // 56250

juce::int64 nanosSince (Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds> (to - from).count();
}

//==============================================================================
/** The keys by the centre of their bounds on the panel. */
enum class Action { record, stop, slotA, slotB, slotC, slotD, play, power, sidechain, deleteKey };

const char* nameOf (Action a)
{
    const char* names[] = { "record", "stop", "slotA", "slotB", "slotC", "slotD", "play", "power", "sidechain", "delete" };
    return names[(int) a];
}

juce::Point<int> centreOf (Action a)
{
    const juce::Rectangle<int> bounds[] = { { 597, 52, 54, 55 }, { 722, 52, 54, 55 }, { 326, 52, 54, 55 }, { 388, 52, 54, 55 },
                                            { 451, 52, 54, 55 }, { 513, 52, 54, 55 }, { 659, 52, 54, 55 }, { 59, 52, 59, 48 },
                                            { 161, 122, 55, 18 }, { 224, 122, 55, 18 } };
    return bounds[(int) a].getCentre();
}

//==============================================================================
/** One lock acquisition by the audio thread. */
struct Acquisition
{
    std::uint32_t waitNs, blockNs;
    std::int32_t click;     // the click it met, or -1
    bool contended;         // the lock was held by another thread when asked for
    std::int32_t lateNs;    // paced: how late the block started after it was due
};

/** The audio thread: blocks under the callback lock, each acquisition timed. */
class AudioThread
{
public:
    explicit AudioThread (VobrelAudioProcessor& p)
        : processor (p), block (4, kFrames)
    {
        for (int c = 0; c < 4; ++c)
            for (int i = 0; i < kFrames; ++i)
                block.setSample (c, i, 0.25f * std::sin (0.013f * (float) (i + 97 * c)));

        log.reserve (8'000'000);
        processor.setPlayHead (&head);
        processor.prepareToPlay (kRate, kFrames);
        thread = std::thread ([this] { run(); });
    }

    ~AudioThread()
    {
        quit = true;
        thread.join();
        processor.releaseResources();
        processor.setPlayHead (nullptr);
    }

    /** The transport plays from `from` for exactly `blocks` blocks, then stops. */
    void roll (juce::int64 from, juce::int64 blocks)
    {
        rollFrom = from;
        rollBlocks = blocks;
    }

    bool rolling() const      { return rollBlocks.load() != 0 || rollFrom.load() >= 0; }

    /** Whether the paced thread got its real-time priority (needs the right to it). */
    bool realtime() const     { return hasRealtimePriority.load(); }

    void setPaced (bool shouldBePaced)    { paced = shouldBePaced; }

    /** Every acquisition from now on is kept in the log. */
    void setMeasuring (bool shouldMeasure)    { measuring = shouldMeasure; }

    juce::int64 blocksDone() const   { return done.load(); }

    /** Waits until `n` more blocks have been processed. */
    void waitBlocks (juce::int64 n) const
    {
        const auto target = done.load() + n;

        while (done.load() < target)
            std::this_thread::sleep_for (std::chrono::microseconds (200));
    }

    /** When the next paced block is due (paced mode only). */
    Clock::time_point nextBlockDue() const   { return Clock::time_point (Clock::duration (nextDue.load())); }

    /** How late the last paced block started after it was due: the wake-up latency. */
    std::chrono::nanoseconds lastLateness() const   { return std::chrono::nanoseconds (lastLateNs.load()); }

    /** The message thread brackets each click with these: odd while a click runs. */
    void clickBegins (int index)    { clicks = index; sequence.fetch_add (1); }
    void clickEnds()                { sequence.fetch_add (1); }

    /** Hands over the log kept so far; call with measuring off. */
    std::vector<Acquisition> takeLog()
    {
        std::vector<Acquisition> taken;
        taken.reserve (log.capacity());

        // The audio thread appends under the callback lock: swap under it too.
        const juce::ScopedLock sl (processor.getCallbackLock());
        std::swap (taken, log);
        return taken;
    }

private:
    void run()
    {
        // Wake on time, as an audio thread would, not up to 50 us late.
        prctl (PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        auto& lock = processor.getCallbackLock();
        bool realtimePriority = false;

        juce::MidiBuffer midi;
        auto due = Clock::now();
        bool wasPaced = false;

        while (! quit)
        {
            // roll() writes the start first: seen rolling, the start is seen too.
            const bool playing = rollBlocks.load() > 0;

            if (const auto from = rollFrom.exchange (-1); from >= 0)
                head.timeInSamples = from;

            // Paced, the thread runs at a real-time priority as a host's audio thread
            // does; back to back it must not, or the kernel's real-time throttling
            // would stall it.
            if (paced.load() != realtimePriority)
            {
                sched_param param {};
                param.sched_priority = paced.load() ? 80 : 0;
                const bool ok = pthread_setschedparam (pthread_self(), paced.load() ? SCHED_FIFO : SCHED_OTHER, &param) == 0;
                realtimePriority = paced.load();
                hasRealtimePriority = realtimePriority && ok;
            }

            // The click the wait may meet: one running now, or one that starts before the lock is ours.
            const auto seqBefore = sequence.load();
            const auto t0 = Clock::now();

            if (wasPaced)
                lastLateNs = nanosSince (due, t0);

            // What a wrapper's ScopedLock does, told apart: free, or held by the message thread.
            const bool contended = ! lock.tryEnter();

            if (contended)
                lock.enter();

            const auto t1 = Clock::now();
            const auto seqAfter = sequence.load();

            head.playing = playing;
            processor.processBlock (block, midi);
            const auto t2 = Clock::now();

            if (measuring.load (std::memory_order_relaxed) && log.size() < log.capacity())
            {
                const bool met = (seqBefore & 1) != 0 || seqAfter != seqBefore;
                log.push_back ({ (std::uint32_t) std::min<juce::int64> (nanosSince (t0, t1), UINT32_MAX),
                                 (std::uint32_t) std::min<juce::int64> (nanosSince (t1, t2), UINT32_MAX),
                                 met ? clicks.load() : -1, contended,
                                 wasPaced ? (std::int32_t) std::clamp<juce::int64> (nanosSince (due, t0), INT32_MIN, INT32_MAX) : 0 });
            }

            lock.exit();

            if (playing)
            {
                head.timeInSamples += kFrames;
                rollBlocks.fetch_sub (1);
            }

            done.fetch_add (1);

            if (paced.load())
            {
                if (! wasPaced)
                    due = Clock::now();

                wasPaced = true;
                due += std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (kFrames / kRate));
                nextDue = due.time_since_epoch().count();
                std::this_thread::sleep_until (due);
            }
            else
            {
                wasPaced = false;
            }
        }
    }

    VobrelAudioProcessor& processor;
    juce::AudioBuffer<float> block;
    ScriptedPlayHead head;
    std::vector<Acquisition> log;

    std::atomic<bool> quit { false }, paced { false }, measuring { false }, hasRealtimePriority { false };
    std::atomic<juce::int64> rollFrom { -1 }, rollBlocks { 0 }, done { 0 };
    std::atomic<Clock::rep> nextDue { 0 };
    std::atomic<juce::int64> lastLateNs { 0 };
    std::atomic<std::uint64_t> sequence { 0 };
    std::atomic<int> clicks { -1 };
    std::thread thread;
};

//==============================================================================
/** A processor with its headless editor, its audio thread, and the clicks made. */
struct Session
{
    Session()
        : editor (processor.createEditor()),
          audio (std::in_place, processor)
    {
        listener = dynamic_cast<juce::Button::Listener*> (editor.get());

        // Hit-testing skips invisible components; visible without a peer, it stays headless.
        editor->setVisible (true);
    }

    /** Every key is found by its position, and the editor takes the clicks. */
    bool ready() const
    {
        for (int a = 0; a <= (int) Action::deleteKey; ++a)
            if (buttonFor ((Action) a) == nullptr)
                return false;

        return listener != nullptr;
    }

    ~Session()
    {
        audio.reset();
        editor.reset();
    }

    juce::Button* buttonFor (Action a) const
    {
        const auto at = centreOf (a);
        return dynamic_cast<juce::Button*> (editor->getComponentAt (at.x, at.y));
    }

    /** Clicks a key and returns how long the handler took, in ns. */
    juce::int64 click (Action a)
    {
        auto* button = buttonFor (a);

        if (button == nullptr || listener == nullptr)
            return -1;

        const auto index = (int) actions.size();
        actions.push_back (a);

        audio->clickBegins (index);
        const auto t0 = Clock::now();
        listener->buttonClicked (button);
        const auto t1 = Clock::now();
        audio->clickEnds();

        handlerNs.push_back (nanosSince (t0, t1));
        return handlerNs.back();
    }

    /** Paced, waits for the moment the next block will ask for the lock, so that
        the click and the block meet; back to back, they meet anyway. */
    void aimAtNextBlock (std::mt19937& random, bool paced)
    {
        if (! paced)
            return;

        // A block not aimed at yet: the thread posts the next due time once it has
        // finished the current block. The click lands about when the thread, woken
        // as late as it was last time, asks for the lock.
        for (int i = 0; i < 1000 && audio->nextBlockDue() <= lastAimedAt; ++i)
            std::this_thread::sleep_for (std::chrono::microseconds (100));

        lastAimedAt = audio->nextBlockDue();
        const auto at = lastAimedAt + audio->lastLateness()
                          + std::chrono::microseconds (std::uniform_int_distribution<int> (-12, 3) (random));

        // Sleep most of the way, then spin: a sleeper wakes tens of microseconds late.
        if (at - std::chrono::microseconds (500) > Clock::now())
            std::this_thread::sleep_until (at - std::chrono::microseconds (500));

        while (Clock::now() < at) {}
    }

    Clock::time_point lastAimedAt;

    static void pump (int ms)   { juce::MessageManager::getInstance()->runDispatchLoopUntil (ms); }

    VobrelAudioProcessor processor;
    std::unique_ptr<juce::AudioProcessorEditor> editor;
    juce::Button::Listener* listener = nullptr;
    std::optional<AudioThread> audio;

    std::vector<Action> actions;
    std::vector<juce::int64> handlerNs;
};

//==============================================================================
struct Stats
{
    double maxUs = 0, p999Us = 0, p99Us = 0, medianUs = 0;
    size_t count = 0;
};

Stats statsOf (std::vector<double> us)
{
    Stats s;
    s.count = us.size();

    if (us.empty())
        return s;

    std::sort (us.begin(), us.end());
    auto at = [&] (double q) { return us[std::min (us.size() - 1, (size_t) (q * (double) (us.size() - 1) + 0.5))]; };
    s.maxUs = us.back();
    s.p999Us = at (0.999);
    s.p99Us = at (0.99);
    s.medianUs = at (0.5);
    return s;
}

void report (benchmark::State& state, const std::string& prefix, const Stats& s)
{
    state.counters[prefix + "max_us"] = s.maxUs;
    state.counters[prefix + "p999_us"] = s.p999Us;
    state.counters[prefix + "n"] = (double) s.count;
}

/** The audio thread's waits: all acquisitions, those that found the lock held,
    and those that met a click (optionally of one key only). */
void reportWaits (benchmark::State& state, const std::vector<Acquisition>& log,
                  const std::vector<Action>& actions, bool paced)
{
    std::vector<double> all, contended, late, blocks;

    for (const auto& a : log)
    {
        all.push_back (a.waitNs * 1.0e-3);
        blocks.push_back (a.blockNs * 1.0e-3);

        if (a.contended)
            contended.push_back (a.waitNs * 1.0e-3);

        if (paced)
            late.push_back (a.lateNs * 1.0e-3);
    }

    report (state, "wait_", statsOf (all));
    report (state, "held_wait_", statsOf (contended));
    state.counters["block_median_us"] = statsOf (blocks).medianUs;

    if (paced)
        state.counters["wake_late_p50_us"] = statsOf (late).medianUs;

    std::map<Action, std::vector<double>> perAction;

    for (const auto& a : log)
        if (a.click >= 0 && a.contended)
            perAction[actions[(size_t) a.click]].push_back (a.waitNs * 1.0e-3);

    std::printf ("  %s, audio waits on a held lock, by key (us):", paced ? "realtime" : "back2back");

    for (const auto& [action, waits] : perAction)
        std::printf (" %s max %.1f (n %zu);", nameOf (action), statsOf (waits).maxUs, waits.size());

    std::printf ("\n");
}

/** Records a take of exactly `blocks` blocks into the selected slot, as fast as the
    audio thread goes, with the transport then stopped. */
bool recordTake (Session& s, juce::int64 blocks)
{
    s.audio->setPaced (false);
    s.click (Action::record);
    s.audio->roll (0, blocks);

    while (s.audio->rolling())
        std::this_thread::sleep_for (std::chrono::milliseconds (1));

    s.audio->waitBlocks (2);   // the first stopped block ends the take
    return s.processor.slotHasData[(size_t) s.processor.currentSlot.load()].load();
}

//==============================================================================
/** Every kind of click, over and over, while slot A holds a 1 s take. */
void BM_ClickWait_Controls (benchmark::State& state)
{
    const bool paced = state.range (0) == 0;
    state.SetLabel (paced ? "realtime" : "back2back");

    for (auto _ : state)
    {
        Session s;

        if (! s.ready())
        {
            state.SkipWithError ("the editor's keys were not found at their positions");
            return;
        }

        if (! recordTake (s, 94))
        {
            state.SkipWithError ("no take was recorded");
            return;
        }

        s.audio->setPaced (paced);
        s.audio->waitBlocks (2);
        s.audio->setMeasuring (true);

        // A plays, pauses, resumes and stops; the slots cycle; the sidechain flips
        // twice; Record arms and Stop disarms; the power goes off and on; Delete
        // empties slot B, which holds nothing.
        const Action cycle[] = { Action::play, Action::play, Action::play, Action::stop,
                                 Action::slotB, Action::deleteKey, Action::slotC, Action::slotD, Action::slotA,
                                 Action::sidechain, Action::sidechain, Action::record, Action::stop,
                                 Action::power, Action::power };

        std::mt19937 random (42);
        const int cycles = paced ? 40 : 400;

        for (int c = 0; c < cycles; ++c)
        {
            for (auto a : cycle)
            {
                s.aimAtNextBlock (random, paced);
                s.click (a);

                if (! paced)
                    std::this_thread::sleep_for (std::chrono::microseconds (std::uniform_int_distribution<int> (100, 1500) (random)));
            }

            Session::pump (1);
        }

        s.audio->waitBlocks (2);
        s.audio->setMeasuring (false);
        const auto log = s.audio->takeLog();

        std::vector<double> handlers;
        for (auto ns : s.handlerNs)
            handlers.push_back ((double) ns * 1.0e-3);

        reportWaits (state, log, s.actions, paced);
        state.counters["handler_max_us"] = statsOf (handlers).maxUs;
        state.counters["handler_p999_us"] = statsOf (handlers).p999Us;
        state.counters["clicks"] = (double) s.handlerNs.size();
        state.counters["audio_rt"] = s.audio->realtime() ? 1 : 0;
    }
}
BENCHMARK (BM_ClickWait_Controls)->Arg (0)->Arg (1)->Iterations (1)->Unit (benchmark::kSecond)->UseRealTime();

/** Delete of a 10-minute take (48 kHz) while it plays: repeated, a fresh take each time. */
void BM_ClickWait_DeleteTenMinuteTake (benchmark::State& state)
{
    const bool paced = state.range (0) == 0;
    state.SetLabel (paced ? "realtime" : "back2back");
    const int repetitions = (int) state.range (1);

    for (auto _ : state)
    {
        Session s;
        std::mt19937 random (7);

        if (! s.ready())
        {
            state.SkipWithError ("the editor's keys were not found at their positions");
            return;
        }

        std::vector<double> deleteWaits, deleteHandlers, blocksAfterDelete;
        std::vector<Acquisition> log;

        for (int r = 0; r < repetitions; ++r)
        {
            if (! recordTake (s, kTenMinutesOfBlocks))
            {
                state.SkipWithError ("no take was recorded");
                return;
            }

            {
                const juce::ScopedLock sl (s.processor.getCallbackLock());

                if (s.processor.dsp->slotLeft (0).Size() != kTenMinutesOfBlocks * kFrames)
                {
                    state.SkipWithError ("the take is not 10 minutes long");
                    return;
                }
            }

            // Playing, started with Play while the transport is stopped.
            s.audio->setPaced (paced);
            s.click (Action::play);
            s.audio->waitBlocks (4);

            if (! s.processor.playActive.load())
            {
                state.SkipWithError ("the take does not play");
                return;
            }

            s.audio->setMeasuring (true);
            const auto index = (int) s.actions.size();
            s.aimAtNextBlock (random, paced);
            const auto handlerNs = s.click (Action::deleteKey);

            // Blocks go on while the recorder's worker frees the take.
            s.processor.dsp->blocks.WaitUntilIdle();
            s.audio->waitBlocks (paced ? 3 : 100);
            s.audio->setMeasuring (false);
            const auto part = s.audio->takeLog();

            if (s.processor.slotHasData[0].load())
            {
                state.SkipWithError ("Delete left the take");
                return;
            }

            deleteHandlers.push_back ((double) handlerNs * 1.0e-3);
            bool after = false;

            for (const auto& acquisition : part)
            {
                log.push_back (acquisition);

                if (acquisition.click == index)
                {
                    deleteWaits.push_back (acquisition.waitNs * 1.0e-3);
                    after = true;
                }
                else if (after)
                {
                    blocksAfterDelete.push_back (acquisition.blockNs * 1.0e-3);
                }
            }

            s.click (Action::stop);
            Session::pump (1);
        }

        reportWaits (state, log, s.actions, paced);
        report (state, "delete_wait_", statsOf (deleteWaits));
        state.counters["delete_handler_max_us"] = statsOf (deleteHandlers).maxUs;
        state.counters["delete_handler_median_us"] = statsOf (deleteHandlers).medianUs;
        state.counters["block_while_freeing_max_us"] = statsOf (blocksAfterDelete).maxUs;
        state.counters["deletes"] = (double) deleteHandlers.size();
        state.counters["audio_rt"] = s.audio->realtime() ? 1 : 0;
    }
}
BENCHMARK (BM_ClickWait_DeleteTenMinuteTake)->Args ({ 0, 16 })->Args ({ 1, 8 })->Iterations (1)->Unit (benchmark::kSecond)->UseRealTime();
}
