#include "scan/lookahead.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace {

// How many helpers ask for files at once.
constexpr std::size_t HELPERS = 8;

// Where the system cannot tell, a first read slower than this waited for a
// device (or lost the processor, which the next looks tell apart).
constexpr std::chrono::microseconds SLOW_READ{100};

// Hands the walk's next file to the helpers, once it is less than the full
// distance ahead of the walk; `path` null when it is not to be read ahead.
// False when the look-ahead stops.
bool offer(Lookahead& ahead, const NativeChar* path) {
    std::unique_lock<std::mutex> hold(ahead.lock);
    if (ahead.listed >= ahead.passed + LOOKAHEAD_DISTANCE) {
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
    PathBuffer& slot = ahead.ring[number % LOOKAHEAD_DISTANCE].path;
    slot[0] = NATIVE('\0');
    if (path != nullptr) {
        copyPath(slot, path);
    }
    if (ahead.helpersWaiting != 0) {
        ahead.helpersWake.notify_one();
    }
    return true;
}

// Walks the tree as the walk does, quietly, and offers each file that the
// walk will open, in its order, until the walk ends.
void runShadow(Lookahead* ahead) {
    TreeCursor cursor;
    if (startWalk(cursor, ahead->root, *ahead->rules, true)) {
        WalkFile file;
        bool going = true;
        while (going && nextFile(cursor, file)) {
            // A link whose target cannot be examined is opened by the walk,
            // but only to learn why it fails.
            going = offer(*ahead, file.entry->kind == platform::EntryKind::File ? file.path
                                                                                 : nullptr);
        }
        endWalk(cursor);
    }
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
    copyPath(path, ahead.ring[ahead.taken++ % LOOKAHEAD_DISTANCE].path);
    return true;
}

void runHelper(Lookahead* ahead) {
    PathBuffer path;
    std::uint8_t scratch[ROM_READ_SIZE];
    while (takeFile(*ahead, path)) {
        if (path[0] != NATIVE('\0')) {
            platform::readAhead(path, scratch);
        }
    }
}

void start(Lookahead& ahead) {
    ahead.started = true;
    // The shadow walk holds a listing a level open, each helper a file: they
    // run only where the walk keeps as many again for itself, so that they
    // never take a descriptor it needs.
    if (platform::openFileLimit() < 2 * (MAX_DEPTH + HELPERS) + 16) {
        return;
    }
    ahead.passed = ahead.walked;
    ahead.ring.resize(LOOKAHEAD_DISTANCE);
    const int saved = errno;
    // The library reports a thread that cannot be had only by throwing; the
    // walk then goes on with the helpers it has, or alone.
    try {
        ahead.shadow = std::thread(runShadow, &ahead);
        while (ahead.helpers.size() < HELPERS) {
            ahead.helpers.emplace_back(runHelper, &ahead);
        }
    } catch (const std::system_error&) {
    }
    errno = saved;
}

}  // namespace

bool countLook(LookCount& count, const FirstRead& look) {
    if (!look.read) {
        return false;
    }
    const bool cold = look.state == platform::CacheState::NotCached ||
                      (look.state == platform::CacheState::Unknown && look.took > SLOW_READ);
    count.coldInARow = cold ? count.coldInARow + 1 : 0;
    return count.coldInARow == 3;
}

void prepareLookahead(Lookahead& ahead, const NativeChar* root, const WalkRules& rules) {
    const char* setting = std::getenv("CARTOLOG_LOOKAHEAD");
    const std::string_view mode = setting != nullptr ? setting : "";
    ahead.mode = mode == "off"  ? Lookahead::Mode::Off
                 : mode == "on" ? Lookahead::Mode::Always
                                : Lookahead::Mode::OnDemand;
    ahead.root = root;
    ahead.rules = &rules;
}

void approachFile(Lookahead& ahead) {
    if (!ahead.started && ahead.mode == Lookahead::Mode::Always) {
        start(ahead);
    } else if (ahead.started) {
        const std::lock_guard<std::mutex> hold(ahead.lock);
        ahead.passed = ahead.walked;
        if (ahead.shadowWaits && ahead.listed <= ahead.passed + LOOKAHEAD_DISTANCE / 2) {
            ahead.shadowWaits = false;
            ahead.shadowWakes.notify_one();
        }
    }
    ++ahead.walked;
}

bool wantsLook(const Lookahead& ahead) {
    return ahead.mode == Lookahead::Mode::OnDemand && !ahead.started &&
           ahead.walked % LOOK_EVERY == 1;
}

void fileLooked(Lookahead& ahead, const FirstRead& look) {
    if (countLook(ahead.looks, look)) {
        start(ahead);
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
        helper.join();
    }
}
