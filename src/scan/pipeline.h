// Many files in flight. Where each file keeps the walk waiting (a cold disk,
// a network share, digests to work out), the walk hands its listing to a
// thread of its own and reader threads open and read the files ahead of it,
// as many at once as the storage rewards, while the walk still writes every
// row and every message itself, in its own order. The readers print and
// decide nothing: the output is the same byte for byte with them and without.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "scan/scan.h"

// How far ahead of the walk the listing goes, in steps; and how many readers
// there may be at most (half as many where each reads files whole).
inline constexpr std::size_t PIPELINE_DISTANCE = 1024;
inline constexpr std::size_t MOST_READERS = 64;

// What the walk's samples of its own files have found so far.
struct StartRule {
    int slowInARow = 0;
};

/// Counts one file that the walk read itself, sampled, and the time from its
/// open to its close; true when the pipeline should start now: when three
/// samples in a row took longer than a file in memory takes to read and
/// decode, the storage or the work keeps the walk waiting.
bool countSample(StartRule& rule, std::chrono::steady_clock::duration took);

// One step of the walk in its order, and what a reader found in it.
struct PipelineStep {
    enum class Kind : std::uint8_t { File, NotARom, Problem, End };
    Kind kind = Kind::End;
    bool checkOwn = false;  // its folder may hold one of the run's own files
    bool archive = false;   // read by the walk itself (-zip)
    bool done = false;  // under the pipeline's lock
    PathBuffer path = {};
    FileWork work;
    platform::File archiveFile;  // an archive a reader opened, for the walk
    WalkProblem problem;  // of a step of kind Problem
};

struct Pipeline {
    enum class Mode : std::uint8_t { Off, OnDemand, Always };
    Mode mode = Mode::OnDemand;
    const WalkSettings* walk = nullptr;
    StartRule rule;
    std::uint64_t filesWalked = 0;
    bool running = false;

    // Shared once it runs, under `lock`. Steps are numbered in the walk's
    // order from 0: the producer has listed `listed` of them, the walk is
    // done with `consumed`, and readers look for work from `nextToRead` on.
    std::mutex lock;
    std::condition_variable producerWakes;
    std::condition_variable readersWake;
    std::condition_variable walkWakes;
    std::uint64_t listed = 0;
    std::uint64_t consumed = 0;
    std::uint64_t nextToRead = 0;
    std::uint64_t readAhead = PIPELINE_DISTANCE;  // steps past `consumed` readers may take
    bool producerWaits = false;
    bool walkWaits = false;
    std::size_t readersWaiting = 0;
    bool stopping = false;
    std::atomic<bool> abandon{false};  // readers leave what they read unfinished
    TreeCursor* cursor = nullptr;  // the walk's, listed on by the producer
    std::unique_ptr<PipelineStep[]> ring;

    // The readers, and how many the walk has asked for: it adds more while
    // it waits for them and more of them read faster.
    std::thread producer;
    struct Reader {
        std::thread thread;
        FileReader reader;
        std::unique_ptr<std::uint8_t[]> scratch;
    };
    std::vector<std::unique_ptr<Reader>> readers;
    bool growing = true;
    bool waitedSinceCheck = false;
    std::uint64_t consumedAtCheck = 0;
    std::chrono::steady_clock::time_point checkedAt;
    double rateBefore = 0;  // steps a second before the last growth
};

/// Readies the pipeline of a walk with `walk`'s settings; nothing starts yet.
/// The environment variable CARTOLOG_LOOKAHEAD set to "off" turns it off,
/// and "on" starts it at the walk's first file.
void preparePipeline(Pipeline& pipe, const WalkSettings& walk);

/// Whether the walk, which has read `filesWalked` files itself, should time
/// the next one for the start rule.
bool wantsSample(const Pipeline& pipe);

/// Starts the pipeline on the walk's `cursor`, which it lists on from now:
/// the walk takes its steps from nextPipelineStep instead. False when it
/// does not start (turned off, or too few descriptors or threads to spare).
bool startPipeline(Pipeline& pipe, TreeCursor& cursor);

/// The walk's next step, read when it is a file; the end of the walk is a
/// step of kind End.
PipelineStep& nextPipelineStep(Pipeline& pipe);

/// The walk is done with the step that nextPipelineStep gave.
void finishPipelineStep(Pipeline& pipe);

/// Stops the pipeline and waits for its threads: the walk has ended.
void stopPipeline(Pipeline& pipe);
