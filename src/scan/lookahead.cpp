#include "scan/lookahead.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "header/rom_header.h"
#include "scan/path.h"
#include "scan/scan.h"

namespace {

// How many helpers ask for files at once: two keep a device busy when a
// request returns at once, eight when each one waits for its bytes. And how
// many files ahead of the walk: a cold device answers in a few milliseconds,
// in which a walk that finds its files in memory gets through hundreds.
constexpr std::size_t HELPERS_THAT_ASK = 2;
constexpr std::size_t HELPERS_THAT_READ = 8;
constexpr std::size_t DISTANCE = 1024;

// Until the helpers start, the walk looks at one file in this many whether
// its bytes are in memory; they start when three looks in a row find that
// they are not. Fewer may have met files that the system has just evicted
// from a tree that is otherwise in memory, where helpers cost a run dearly.
constexpr std::uint64_t LOOK_EVERY = 32;
constexpr int COLD_LOOKS_TO_START = 3;

enum class Mode : std::uint8_t { Off, OnDemand, Always };

}  // namespace

struct Lookahead {
    Mode mode = Mode::Off;
    const wchar_t* root = nullptr;
    const WalkSettings* walk = nullptr;
    // The walk's own: files it has come to, whether the helpers run, and
    // what its looks found.
    std::uint64_t walked = 0;
    bool started = false;
    int coldLooks = 0;    // in a row

    // Shared once the helpers run, under `lock`. Files are numbered in the
    // walk's order from 0: the walk is done with the first `passed` of them,
    // the shadow walk has listed `listed` and the helpers have taken `taken`.
    std::mutex lock;
    std::condition_variable shadowWakes;
    std::condition_variable helpersWake;
    std::uint64_t passed = 0;
    std::uint64_t listed = 0;
    std::uint64_t taken = 0;
    bool shadowWaits = false;   // until the walk has come half the distance nearer
    std::size_t helpersWaiting = 0;
    bool shadowDone = false;
    bool stopping = false;
    // File number n is at n % DISTANCE; an empty path is a file the walk
    // opens but that is not read ahead.
    PathBuffer ring[DISTANCE];

    std::thread shadow;
    std::thread helpers[std::max(HELPERS_THAT_ASK, HELPERS_THAT_READ)];
};

namespace {

Lookahead state;

// Hands the walk's next file to the helpers, once it is less than the full
// distance ahead of the walk; `path` null when it is not to be read ahead.
// False when the look-ahead stops.
bool offer(Lookahead& ahead, const wchar_t* path) {
    std::unique_lock<std::mutex> hold(ahead.lock);
    if (ahead.listed >= ahead.passed + DISTANCE) {
        // Woken only when the walk has come half way, not at every file.
        ahead.shadowWaits = true;
        ahead.shadowWakes.wait(hold, [&] { return ahead.stopping || !ahead.shadowWaits; });
    }
    if (ahead.stopping) {
        return false;
    }
    const std::uint64_t number = ahead.listed++;
    if (number < ahead.passed) {
        return true;  // the walk is past it already
    }
    PathBuffer& slot = ahead.ring[number % DISTANCE];
    if (path == nullptr || !copyPath(slot, path)) {
        slot[0] = L'\0';
    }
    if (ahead.helpersWaiting != 0) {
        ahead.helpersWake.notify_one();
    }
    return true;
}

// Lists `directory` as the walk does and offers each file that the walk will
// open, in its order. False when the look-ahead stops, or where the walk
// itself will fail and end.
bool shadowDirectory(Lookahead& ahead, const wchar_t* directory) {
    PathBuffer pattern;
    platform::DirListing listing;
    platform::DirEntry entry;
    bool atEnd = false;
    if (!joinPath(pattern, directory, L"*") ||
        !platform::openListing(directory, pattern, listing, entry, atEnd)) {
        return false;
    }
    PathBuffer path;
    bool going = true;
    while (going && !atEnd) {
        if (!joinPath(path, directory, entry.name)) {
            going = false;
            break;
        }
        switch (entryUse(*ahead.walk, entry, path)) {
            case EntryUse::Descend:
                going = shadowDirectory(ahead, path);
                break;
            case EntryUse::Read:
                // A link whose target cannot be examined is opened by the
                // walk, but only to learn why it fails.
                going = offer(ahead, entry.kind == platform::EntryKind::File ? path : nullptr);
                break;
            case EntryUse::NotARom:
            case EntryUse::PassOver:
                break;
        }
        // A listing that fails part way ends the walk there.
        if (going && !platform::nextEntry(listing, entry, atEnd)) {
            going = atEnd;
        }
    }
    platform::closeListing(listing);
    return going;
}

void runShadow(Lookahead* ahead) {
    shadowDirectory(*ahead, ahead->root);
    const std::lock_guard<std::mutex> hold(ahead->lock);
    ahead->shadowDone = true;
    ahead->helpersWake.notify_all();
}

// Takes the next file ahead of the walk into `path`. False when there is
// none left, or the look-ahead stops.
bool takeFile(Lookahead& ahead, PathBuffer& path) {
    std::unique_lock<std::mutex> hold(ahead.lock);
    for (;;) {
        if (ahead.stopping) {
            return false;
        }
        // Files that the walk is done with are no longer worth asking for.
        ahead.taken = std::max(ahead.taken, ahead.passed);
        if (ahead.taken < ahead.listed) {
            break;
        }
        if (ahead.shadowDone) {
            return false;
        }
        ++ahead.helpersWaiting;
        ahead.helpersWake.wait(hold);
        --ahead.helpersWaiting;
    }
    // The slot holds a path that fitted, or none.
    if (!copyPath(path, ahead.ring[ahead.taken++ % DISTANCE])) {
        path[0] = L'\0';
    }
    return true;
}

void runHelper(Lookahead* ahead) {
    PathBuffer path;
    std::uint8_t scratch[ROM_READ_SIZE];
    while (takeFile(*ahead, path)) {
        if (path[0] != L'\0') {
            platform::readAhead(path, scratch);
        }
    }
}

void start(Lookahead& ahead) {
    ahead.started = true;
    ahead.passed = ahead.walked;
    const int saved = errno;
    // The library reports a thread that cannot be had only by throwing; the
    // walk then goes on with the helpers it has, or alone.
    try {
        ahead.shadow = std::thread(runShadow, &ahead);
        const std::size_t helpers =
            platform::READ_AHEAD_WAITS ? HELPERS_THAT_READ : HELPERS_THAT_ASK;
        for (std::size_t i = 0; i < helpers; ++i) {
            ahead.helpers[i] = std::thread(runHelper, &ahead);
        }
    } catch (const std::system_error&) {
    }
    errno = saved;
}

// Counts a look at a file and starts the helpers after enough cold ones.
void look(Lookahead& ahead, bool cold) {
    ahead.coldLooks = cold ? ahead.coldLooks + 1 : 0;
    if (ahead.coldLooks == COLD_LOOKS_TO_START) {
        start(ahead);
    }
}

}  // namespace

Lookahead& prepareLookahead(const wchar_t* directory, const WalkSettings& walk) {
    const char* setting = std::getenv("CARTOLOG_LOOKAHEAD");
    state.mode = Mode::OnDemand;
    if (setting != nullptr && std::strcmp(setting, "off") == 0) {
        state.mode = Mode::Off;
    } else if (setting != nullptr && std::strcmp(setting, "on") == 0) {
        state.mode = Mode::Always;
    }
    state.root = directory;
    state.walk = &walk;
    state.walked = state.passed = state.listed = state.taken = 0;
    state.started = state.shadowWaits = state.shadowDone = state.stopping = false;
    state.coldLooks = 0;
    return state;
}

void approachFile(Lookahead& ahead) {
    if (!ahead.started && ahead.mode == Mode::Always) {
        start(ahead);
    } else if (ahead.started) {
        const std::lock_guard<std::mutex> hold(ahead.lock);
        ahead.passed = ahead.walked;
        if (ahead.shadowWaits && ahead.listed <= ahead.passed + DISTANCE / 2) {
            ahead.shadowWaits = false;
            ahead.shadowWakes.notify_one();
        }
    }
    ++ahead.walked;
}

void fileOpened(Lookahead& ahead, const platform::File& file) {
    file.lookAtCache = ahead.mode == Mode::OnDemand && !ahead.started &&
                       ahead.walked % LOOK_EVERY == 1;
}

void fileRead(Lookahead& ahead, const platform::File& file) {
    // Only a file looked at and read tells.
    if (file.cache != platform::CacheState::Unknown) {
        look(ahead, file.cache == platform::CacheState::NotCached);
    }
}

void endLookahead(Lookahead& ahead) {
    if (!ahead.started) {
        return;
    }
    {
        const std::lock_guard<std::mutex> hold(ahead.lock);
        ahead.stopping = true;
        ahead.shadowWakes.notify_all();
        ahead.helpersWake.notify_all();
    }
    if (ahead.shadow.joinable()) {
        ahead.shadow.join();
    }
    for (std::thread& helper : ahead.helpers) {
        if (helper.joinable()) {
            helper.join();
        }
    }
}
