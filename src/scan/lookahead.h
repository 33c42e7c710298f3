// Reading ahead of the walk. When a tree's files are not in memory, each of
// the walk's reads waits for the device in turn. Helper threads that follow
// the walk's own order a bounded number of files ahead ask for the first
// bytes of each file the walk is about to read, so that many requests are in
// flight at once and the walk's reads find the bytes in memory. The helpers
// print nothing and decide nothing: whether they run, fail or lag, the walk
// does and writes exactly the same.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "header/rom_header.h"
#include "scan/walk.h"

// How many files ahead of the walk the helpers go: a cold device answers in a
// few milliseconds, in which a walk that finds its files in memory gets
// through hundreds.
inline constexpr std::size_t LOOKAHEAD_DISTANCE = 1024;

// Until the helpers start, the walk looks at one file in this many whether
// its bytes are in memory.
inline constexpr std::uint64_t LOOK_EVERY = 32;

// The looks that the walk has made so far.
struct LookCount {
    int coldInARow = 0;
};

/// Counts one look; true when the helpers should start now. A look finds a
/// file cold when the system says its bytes were not in memory, or, where
/// the system cannot tell, when the read took longer than memory does. Three
/// cold looks in a row start the helpers: fewer may have met files that the
/// system has just evicted from a tree that is otherwise in memory, where
/// helpers cost a run dearly.
bool countLook(LookCount& count, const FirstRead& look);

struct Lookahead {
    enum class Mode : std::uint8_t { Off, OnDemand, Always };
    Mode mode = Mode::Off;
    const NativeChar* root = nullptr;
    const WalkRules* rules = nullptr;
    // The walk's own: files it has come to, whether the helpers run, and
    // what its looks found.
    std::uint64_t walked = 0;
    bool started = false;
    LookCount looks;

    // Shared once the helpers run, under `lock`. Files are numbered in the
    // walk's order from 0: the walk is done with the first `passed` of them,
    // the shadow walk has listed `listed` and the helpers have taken `taken`.
    std::mutex lock;
    std::condition_variable shadowWakes;
    std::condition_variable helpersWake;
    std::uint64_t passed = 0;
    std::uint64_t listed = 0;
    std::uint64_t taken = 0;
    bool shadowWaits = false;  // until the walk has come half the distance nearer
    std::size_t helpersWaiting = 0;
    bool shadowDone = false;
    bool stopping = false;
    // File number n is at n % LOOKAHEAD_DISTANCE; an empty path is a file
    // the walk opens but that is not read ahead.
    struct Slot {
        PathBuffer path;
    };
    std::vector<Slot> ring;

    std::thread shadow;
    std::vector<std::thread> helpers;
};

/// Readies the look-ahead of a walk of `root` by `rules`, both of which must
/// outlive it; nothing starts yet. The environment variable
/// CARTOLOG_LOOKAHEAD set to "off" turns it off, and "on" starts the helpers
/// at the walk's first file; otherwise they start once the walk finds that
/// its files are not in memory.
void prepareLookahead(Lookahead& ahead, const NativeChar* root, const WalkRules& rules);

/// The walk is about to open the next file that it reads.
void approachFile(Lookahead& ahead);

/// Whether the walk should look at the cache when it reads the file it has
/// just come to.
bool wantsLook(const Lookahead& ahead);

/// What the walk's look at that file found.
void fileLooked(Lookahead& ahead, const FirstRead& look);

/// Stops the helpers and waits for them: the walk has ended.
void endLookahead(Lookahead& ahead);
