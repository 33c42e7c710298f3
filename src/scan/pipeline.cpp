#include "scan/pipeline.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <string_view>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;

// Until the pipeline starts, the walk times one file in this many, not the
// first, which pays for what the run sets up. A file in memory is read and
// decoded in a few microseconds; one that takes longer than this waited for
// a device or a server, or needs much work.
constexpr std::uint64_t SAMPLE_EVERY = 8;
constexpr std::chrono::microseconds SLOW_FILE{50};

// Readers at the start, and how much a reader holds for the rest of a file
// that it reads whole.
constexpr std::size_t FIRST_READERS = 2;
constexpr std::size_t READER_SCRATCH = 64 * 1024;

// How much of an archive a reader asks for ahead of the walk: all of one
// that holds a ROM or a few, the start of a larger one.
constexpr std::uint64_t ARCHIVE_HINT = 1024 * 1024;

// A reader takes this many files at once, opens them all and asks for their
// first bytes, then reads them one after another: the device has their
// reads together, where a reader that read each as it opened it would keep
// one in flight. On a cold disk eight files a reader took 0.75 s for 50,000
// files where one took 0.92 s.
constexpr std::size_t BATCH = 8;

PipelineStep& stepAt(Pipeline& pipe, std::uint64_t number) {
    return pipe.ring[number % PIPELINE_DISTANCE];
}

// Puts the next step in the ring, once it is less than the full distance
// ahead of the walk: `found`, or the end of the walk. False when the
// pipeline stops.
bool post(Pipeline& pipe, const WalkStep* found) {
    std::unique_lock<std::mutex> hold(pipe.lock);
    if (pipe.listed >= pipe.consumed + PIPELINE_DISTANCE) {
        // Woken only when the walk has come half way, not at every step.
        pipe.producerWaits = true;
        pipe.producerWakes.wait(hold, [&] { return pipe.stopping || !pipe.producerWaits; });
    }
    if (pipe.stopping) {
        return false;
    }
    using Kind = PipelineStep::Kind;
    PipelineStep& step = stepAt(pipe, pipe.listed);
    step.kind = found == nullptr                                 ? Kind::End
                : found->kind == WalkStep::Kind::File            ? Kind::File
                : found->kind == WalkStep::Kind::NotARom         ? Kind::NotARom
                                                                 : Kind::Problem;
    step.done = step.kind != Kind::File;
    step.work = FileWork{};
    step.archiveFile = platform::File{};
    if (step.kind == Kind::File || step.kind == Kind::NotARom) {
        copyPath(step.path, found->path);
        step.checkOwn = mayHoldOwnFile(pipe.walk->rules, *found->listing);
        step.archive = pipe.walk->archives && isArchiveName(found->entry->name);
    } else if (step.kind == Kind::Problem) {
        step.problem = pipe.cursor->problem;
    }
    ++pipe.listed;
    if (pipe.readersWaiting != 0) {
        pipe.readersWake.notify_one();
    }
    if (pipe.walkWaits && pipe.consumed + 1 == pipe.listed && step.done) {
        pipe.walkWakes.notify_one();
    }
    return true;
}

// Lists on from where the walk was, posting each step in its order, until
// the walk's end or the pipeline stops.
void runProducer(Pipeline* pipe) {
    WalkStep found;
    bool going = true;
    while (going && nextStep(*pipe->cursor, found)) {
        going = post(*pipe, &found);
    }
    if (going) {
        post(*pipe, nullptr);
    }
}

// Takes the next files that no reader has taken, at least one and at most
// BATCH of them, into `batch`. False when the pipeline stops.
bool takeFiles(Pipeline& pipe, std::span<PipelineStep*, BATCH> batch, std::size_t& count) {
    std::unique_lock<std::mutex> hold(pipe.lock);
    count = 0;
    for (;;) {
        if (pipe.stopping) {
            return false;
        }
        // Steps that the walk is done with are in the ring no longer.
        pipe.nextToRead = std::max(pipe.nextToRead, pipe.consumed);
        while (count < BATCH && pipe.nextToRead < pipe.listed &&
               pipe.nextToRead < pipe.consumed + pipe.readAhead) {
            PipelineStep& step = stepAt(pipe, pipe.nextToRead++);
            if (step.kind == PipelineStep::Kind::File) {
                batch[count++] = &step;
            }
        }
        if (count != 0) {
            return true;
        }
        ++pipe.readersWaiting;
        pipe.readersWake.wait(hold);
        --pipe.readersWaiting;
    }
}

// Opens and reads a batch of files as the walk would, each step done as it
// is read. An archive is only opened and asked for: the walk reads it itself
// through the reader's open, which on a share spares it a round trip.
void readBatch(Pipeline& pipe, std::span<PipelineStep*> batch, FileReader& reader) {
    platform::File files[BATCH];
    const std::uint64_t advised = reader.scratch.empty() ? ROM_READ_SIZE : READER_SCRATCH;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        FileWork& work = batch[i]->work;
        if (!platform::openPath(batch[i]->path, files[i])) {
            work.outcome = batch[i]->archive ? FileWork::Outcome::Archive
                                             : FileWork::Outcome::OpenFailed;
            work.error = errno;
        } else if (files[i].isRegular) {
            platform::adviseFile(files[i], batch[i]->archive ? ARCHIVE_HINT : advised);
        }
    }
    bool stopping = false;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        PipelineStep& step = *batch[i];
        if (step.archive) {
            // Closed by the walk, or when the pipeline stops.
            step.work.outcome = FileWork::Outcome::Archive;
            step.archiveFile = files[i];
        } else if (files[i].handle >= 0) {
            // Once the walk has ended, what is left is only closed.
            if (!stopping) {
                readOpenFile(files[i], step.checkOwn, false, reader, step.work);
            }
            platform::closeFile(files[i]);
        }
        const std::lock_guard<std::mutex> hold(pipe.lock);
        step.done = true;
        // The walk is woken only for the step it waits for.
        if (pipe.walkWaits && &step == &stepAt(pipe, pipe.consumed)) {
            pipe.walkWakes.notify_one();
        }
        stopping = pipe.stopping;
    }
}

void runReader(Pipeline* pipe, FileReader* reader) {
    PipelineStep* batch[BATCH];
    std::size_t count = 0;
    while (takeFiles(*pipe, batch, count)) {
        readBatch(*pipe, std::span(batch, count), *reader);
    }
}

// The descriptors that the readers may hold. The producer holds a listing a
// level open, each reader a batch of files and, with -zip, each archive that
// a reader opened for the walk stays open until the walk reads it: together
// they take at most half the descriptors the process may have, less a few,
// so that as many again are left for the walk and they never take one it
// needs.
std::size_t readersDescriptors(const Pipeline& pipe) {
    const std::size_t half = platform::openFileLimit() / 2;
    const std::size_t helpers = half > MAX_DEPTH + 16 ? half - MAX_DEPTH - 16 : 0;
    // With -zip, half of them are the archives', as many as steps ahead.
    return pipe.walk->archives ? helpers / 2 : helpers;
}

// The most readers there may be: each that reads whole files holds a buffer
// and digests of its own, 100 KiB or so.
std::size_t mostReaders(const Pipeline& pipe) {
    return std::min(readersDescriptors(pipe) / BATCH,
                    pipe.walk->wholeImages || pipe.walk->hash ? MOST_READERS / 2 : MOST_READERS);
}

// Starts `count` more readers. False when not one could be started.
bool addReaders(Pipeline& pipe, std::size_t count) {
    const std::size_t before = pipe.readers.size();
    const bool wholeFiles = pipe.walk->wholeImages || pipe.walk->hash;
    const int saved = errno;
    // The library reports a thread that cannot be had only by throwing; the
    // walk then goes on with the readers it has.
    try {
        while (pipe.readers.size() < std::min(before + count, mostReaders(pipe))) {
            auto reader = std::make_unique<Pipeline::Reader>();
            if (wholeFiles) {
                reader->scratch = std::make_unique<std::uint8_t[]>(READER_SCRATCH);
            }
            if (!openFileReader(reader->reader, *pipe.walk,
                                {reader->scratch.get(), wholeFiles ? READER_SCRATCH : 0})) {
                break;
            }
            reader->reader.abandon = &pipe.abandon;
            reader->thread = std::thread(runReader, &pipe, &reader->reader);
            pipe.readers.push_back(std::move(reader));
        }
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
    errno = saved;
    return pipe.readers.size() > before;
}

// Adds readers while the walk waits for them and more of them read faster:
// a few keep a local disk busy, dozens a network share, and hashing wants
// as many as there are processors.
void adjustReaders(Pipeline& pipe) {
    const std::uint64_t period = std::max<std::uint64_t>(64, 4 * pipe.readers.size());
    if (!pipe.growing || pipe.consumed - pipe.consumedAtCheck < period) {
        return;
    }
    const Clock::time_point now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - pipe.checkedAt).count();
    const double rate = static_cast<double>(pipe.consumed - pipe.consumedAtCheck) / seconds;
    if (pipe.waitedSinceCheck) {
        // The last readers added must have paid for themselves.
        pipe.growing = rate > 1.1 * pipe.rateBefore && pipe.readers.size() < mostReaders(pipe);
        if (pipe.growing) {
            pipe.rateBefore = rate;
            addReaders(pipe, pipe.readers.size());
        }
    }
    pipe.waitedSinceCheck = false;
    pipe.consumedAtCheck = pipe.consumed;
    pipe.checkedAt = now;
}

}  // namespace

bool countSample(StartRule& rule, Clock::duration took) {
    rule.slowInARow = took > SLOW_FILE ? rule.slowInARow + 1 : 0;
    return rule.slowInARow == 3;
}

void preparePipeline(Pipeline& pipe, const WalkSettings& walk) {
    const char* setting = std::getenv("CARTOLOG_LOOKAHEAD");
    const std::string_view mode = setting != nullptr ? setting : "";
    pipe.mode = mode == "off"  ? Pipeline::Mode::Off
                : mode == "on" ? Pipeline::Mode::Always
                               : Pipeline::Mode::OnDemand;
    pipe.walk = &walk;
}

bool wantsSample(const Pipeline& pipe) {
    return pipe.mode == Pipeline::Mode::OnDemand && pipe.filesWalked % SAMPLE_EVERY == SAMPLE_EVERY - 1;
}

bool startPipeline(Pipeline& pipe, TreeCursor& cursor) {
    if (pipe.mode == Pipeline::Mode::Off || mostReaders(pipe) < FIRST_READERS) {
        pipe.mode = Pipeline::Mode::Off;
        return false;
    }
    // Short of memory the walk goes on alone, as short of threads.
    const int saved = errno;
    pipe.ring.reset(new (std::nothrow) PipelineStep[PIPELINE_DISTANCE]());
    if (!pipe.ring) {
        errno = saved;
        pipe.mode = Pipeline::Mode::Off;
        return false;
    }
    pipe.cursor = &cursor;
    if (pipe.walk->archives) {
        pipe.readAhead = std::min<std::uint64_t>(PIPELINE_DISTANCE, readersDescriptors(pipe));
    }
    if (!addReaders(pipe, FIRST_READERS)) {
        pipe.mode = Pipeline::Mode::Off;
        return false;
    }
    try {
        pipe.producer = std::thread(runProducer, &pipe);
    } catch (const std::exception&) {  // no thread, or no memory for one
        errno = saved;
        stopPipeline(pipe);
        pipe.mode = Pipeline::Mode::Off;
        return false;
    }
    pipe.running = true;
    pipe.checkedAt = Clock::now();
    return true;
}

PipelineStep& nextPipelineStep(Pipeline& pipe) {
    adjustReaders(pipe);
    std::unique_lock<std::mutex> hold(pipe.lock);
    PipelineStep& step = stepAt(pipe, pipe.consumed);
    const auto ready = [&] {
        return pipe.consumed < pipe.listed && step.done;
    };
    if (!ready()) {
        pipe.waitedSinceCheck = true;
        pipe.walkWaits = true;
        pipe.walkWakes.wait(hold, ready);
        pipe.walkWaits = false;
    }
    return step;
}

void finishPipelineStep(Pipeline& pipe) {
    const std::lock_guard<std::mutex> hold(pipe.lock);
    ++pipe.consumed;
    if (pipe.producerWaits && pipe.listed <= pipe.consumed + PIPELINE_DISTANCE / 2) {
        pipe.producerWaits = false;
        pipe.producerWakes.notify_one();
    }
    // Readers held back by the distance may take the step that came in reach.
    if (pipe.readersWaiting != 0 && pipe.nextToRead < pipe.listed &&
        pipe.nextToRead + 1 == pipe.consumed + pipe.readAhead) {
        pipe.readersWake.notify_one();
    }
}

void stopPipeline(Pipeline& pipe) {
    pipe.abandon.store(true, std::memory_order_relaxed);
    {
        const std::lock_guard<std::mutex> hold(pipe.lock);
        pipe.stopping = true;
        pipe.producerWakes.notify_all();
        pipe.readersWake.notify_all();
    }
    if (pipe.producer.joinable()) {
        pipe.producer.join();
    }
    for (const auto& reader : pipe.readers) {
        reader->thread.join();
        closeFileReader(reader->reader);
    }
    pipe.readers.clear();
    // The archives opened for steps the walk did not come to.
    for (std::uint64_t number = pipe.consumed; number < pipe.listed; ++number) {
        platform::closeFile(stepAt(pipe, number).archiveFile);
    }
    pipe.running = false;
}
