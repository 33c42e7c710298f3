#include "scan/scan.h"

#include <cerrno>
#include <chrono>
#include <memory>

#include "archive/zip.h"
#include "diag/diag.h"
#include "header/rom_header.h"
#include "scan/pipeline.h"

namespace {

// What the walk reads files through, made once for the run.
struct WalkBuffers {
    std::uint8_t bulk[256 * 1024];  // the rest of a file, in large reads
    std::unique_ptr<ZipReader> zip;
    FileReader reader;
};

bool readArchive(void* context, std::uint64_t offset, std::span<std::uint8_t> buffer,
                 std::size_t& got) {
    return platform::readFileAt(*static_cast<const platform::File*>(context), offset, buffer, got);
}

// Whether the walk goes on after a row: a name that cannot be written ends
// it unless it keeps going, which counts it as a failure; a failed write
// always ends it.
bool goesOn(RowWritten written, const WalkSettings& walk, bool& failed) {
    if (written == RowWritten::BadName) {
        failed = true;
        return walk.rules.keepGoing;
    }
    return written == RowWritten::Yes;
}

// Writes a row for each ROM in the archive open as `file`; false ends the
// walk. What cannot be read is reported, once for the archive or for each
// entry, and passed over.
bool catalogueArchive(platform::File& file, const NativeChar* path, WalkSettings& walk,
                      ZipReader& reader, Hasher& hasher, bool& failed) {
    ByteSource source{readArchive, &file, 0};
    ZipArchive archive;
    ZipProblem problem = ZipProblem::None;
    if (!platform::fileSize(file, source.size)) {
        // No longer a regular file since it was listed: as any file that is
        // not one.
        if (errno == EINVAL) {
            reportNotARom(path);
            return true;
        }
        problem = ZipProblem::ReadFailed;
    } else if (openZipArchive(reader, source, archive, problem)) {
        ZipEntry entry;
        bool atEnd = false;
        while (nextZipEntry(archive, entry, atEnd, problem)) {
            std::array<std::uint8_t, ROM_READ_SIZE> image;
            GlobalSum sum;
            FileDigest digest;
            bool complete = false;
            if (!readZipEntry(archive, entry, image, walk.wholeImages ? &sum : nullptr,
                              walk.hash ? &hasher : nullptr, digest, complete, problem)) {
                if (problem == ZipProblem::ReadFailed) {
                    break;
                }
                reportZipProblem(path, entry.name, problem, entry.method);
                continue;
            }
            CartHeaderInfo info;
            decodeImage(image, info, walk.wholeImages || walk.romsOnly);
            info.globalChecksum = sum.verdict(complete);
            if (walk.romsOnly && !consoleWouldStart(info)) {
                reportRefused(path, entry.name);
                continue;
            }
            const bool utf8Name = (entry.flags & ZIP_FLAG_UTF8) != 0;
            if (!goesOn(writeRows(*walk.report, {info, path, entry.name,
                                                 utf8Name ? Charset::Utf8 : Charset::Cp437,
                                                 walk.hash ? &digest : nullptr}),
                        walk, failed)) {
                return false;
            }
        }
        if (atEnd) {
            return true;
        }
    }
    reportZipProblem(path, {}, problem);
    return true;
}

// What an open that failed found.
FileWork openFailed(int error) {
    FileWork work;
    work.outcome = FileWork::Outcome::OpenFailed;
    work.error = error;
    return work;
}

// Reports what reading a file found and writes its row; false ends the walk.
bool reportWork(const NativeChar* path, const FileWork& work, WalkSettings& walk, bool& failed) {
    using Outcome = FileWork::Outcome;
    switch (work.outcome) {
        case Outcome::OpenFailed:
            errno = work.error;
            reportError("Failed to open ROM file %s", path);
            // Out of descriptors or memory, every later file would fail too:
            // the run fails, rather than the file.
            return work.error != EMFILE && work.error != ENFILE && work.error != ENOMEM;
        case Outcome::NotARom:
            reportNotARom(path);
            return true;
        case Outcome::Refused:
            reportRefused(path);
            return true;
        case Outcome::Read:
            return goesOn(writeRows(*walk.report, {work.info, path, {}, Charset::Report,
                                                   walk.hash ? &work.digest : nullptr}),
                          walk, failed);
        case Outcome::CutShort:
            // The row still tells what the header holds; its digest fields stay empty.
            reportCutShort(path, work.error);
            return goesOn(writeRows(*walk.report, {work.info, path, {}}), walk, failed);
        case Outcome::OwnFile:
        case Outcome::Archive:
            break;
    }
    return true;
}

// Reads and catalogues a file that the walk has opened itself, and closes
// it; false ends the walk.
bool catalogueOpenFile(platform::File& file, const NativeChar* path, bool checkOwn, bool archive,
                       WalkSettings& walk, WalkBuffers& buffers, bool& failed) {
    FileWork work;
    readOpenFile(file, checkOwn, archive, buffers.reader, work);
    bool result = true;
    if (work.outcome == FileWork::Outcome::Archive) {
        if (!buffers.zip) {
            buffers.zip = std::make_unique<ZipReader>();
        }
        result = catalogueArchive(file, path, walk, *buffers.zip, buffers.reader.hasher, failed);
    } else {
        result = reportWork(path, work, walk, failed);
    }
    platform::closeFile(file);
    return result;
}

// Catalogues a file that the walk met itself; false ends the walk. Where
// `waited` is given, an archive's first byte is read ahead and the time of
// its arrival kept there: the rest, inflating and digests, is the walk's own
// work, which no reader would take on, and tells nothing of the storage.
bool catalogueStep(const WalkStep& step, WalkSettings& walk, WalkBuffers& buffers, bool& failed,
                   std::chrono::steady_clock::time_point* waited) {
    platform::File file;
    if (!platform::openEntry(*step.listing, *step.entry, file)) {
        return reportWork(step.path, openFailed(errno), walk, failed);
    }
    const bool archive = walk.archives && isArchiveName(step.entry->name);
    if (waited != nullptr && archive && file.isRegular) {
        const int saved = errno;
        std::uint8_t first = 0;
        std::size_t got = 0;
        platform::readFileAt(file, 0, {&first, 1}, got);
        *waited = std::chrono::steady_clock::now();
        errno = saved;
    }
    return catalogueOpenFile(file, step.path, mayHoldOwnFile(walk.rules, *step.listing), archive,
                             walk, buffers, failed);
}

// Catalogues a file that a reader of the pipeline read, or left to the walk:
// an archive, and a file that the reader could not open for want of
// descriptors or memory, which the walk may still have. False ends the walk.
bool catalogueRead(PipelineStep& step, WalkSettings& walk, WalkBuffers& buffers,
                   bool& failed) {
    const FileWork& work = step.work;
    if (work.outcome == FileWork::Outcome::Archive ||
        (work.outcome == FileWork::Outcome::OpenFailed &&
         (work.error == EMFILE || work.error == ENFILE || work.error == ENOMEM))) {
        // The walk takes over an archive that a reader opened.
        platform::File file = step.archiveFile;
        step.archiveFile = platform::File{};
        if (file.handle < 0 && !platform::openPath(step.path, file)) {
            return reportWork(step.path, openFailed(errno), walk, failed);
        }
        return catalogueOpenFile(file, step.path, step.checkOwn, step.archive, walk, buffers,
                                 failed);
    }
    return reportWork(step.path, work, walk, failed);
}

// Tells a person how far the walk has come, at its step at `path`.
void showWalkProgress(diag::ProgressCounts& counts, const WalkSettings& walk,
                      const NativeChar* path, std::uint64_t bytes) {
    if (!diag::progressStarted()) {
        return;
    }
    ++counts.files;
    counts.rows = walk.report->rowsWritten;
    // Bytes read tell how far a run has come only where it reads files whole.
    counts.bytes += walk.wholeImages || walk.hash ? bytes : 0;
    const platform::NativeView folder(path);
    const std::size_t separator = folder.find_last_of(platform::PATH_SEPARATOR);
    diag::showProgress(counts, folder.substr(0, separator == folder.npos ? 0 : separator));
}

}  // namespace

bool isArchiveName(platform::NativeView name) {
    constexpr std::string_view SUFFIX = ".zip";
    if (name.size() < SUFFIX.size()) {
        return false;
    }
    name.remove_prefix(name.size() - SUFFIX.size());
    for (std::size_t i = 0; i < SUFFIX.size(); ++i) {
        const auto unit = static_cast<std::uint32_t>(name[i]);
        if ((unit >= 'A' && unit <= 'Z' ? unit - 'A' + 'a' : unit) !=
            static_cast<std::uint32_t>(SUFFIX[i])) {
            return false;
        }
    }
    return true;
}

bool openFileReader(FileReader& reader, const WalkSettings& walk,
                    std::span<std::uint8_t> scratch) {
    reader.walk = &walk;
    reader.scratch = scratch;
    return !walk.hash || platform::openDigests(reader.hasher.digests);
}

void closeFileReader(FileReader& reader) { platform::closeDigests(reader.hasher.digests); }

void readOpenFile(platform::File& file, bool checkOwn, bool archive, FileReader& reader,
                  FileWork& work) {
    const WalkSettings& walk = *reader.walk;
    if (checkOwn && isOwnOpenFile(walk.rules, file)) {
        work.outcome = FileWork::Outcome::OwnFile;
        return;
    }
    // A device behind the name is left to readRom, which reads none.
    if (archive && file.isRegular) {
        work.outcome = FileWork::Outcome::Archive;
        return;
    }
    const RomReading reading{walk.wholeImages, walk.romsOnly,
                             walk.hash ? &reader.hasher : nullptr, reader.scratch, reader.abandon};
    const RomRead read = readRom(file, reading, work.info, work.digest, work.bytes);
    reader.bytesRead += work.bytes;
    using Outcome = FileWork::Outcome;
    work.outcome = read == RomRead::NotARom   ? Outcome::NotARom
                   : read == RomRead::Refused ? Outcome::Refused
                   : read == RomRead::Read    ? Outcome::Read
                                              : Outcome::CutShort;
    if (read == RomRead::CutShort) {
        work.error = errno;
    }
}

bool scanDirectory(const NativeChar* directory, WalkSettings& walk, bool& walkedWhole) {
    walkedWhole = false;
    TreeCursor cursor;
    if (!startWalk(cursor, directory, walk.rules)) {
        reportWalkProblem(cursor.problem, false);
        return false;
    }
    auto buffers = std::make_unique<WalkBuffers>();
    if (!openFileReader(buffers->reader, walk, buffers->bulk)) {
        reportPlain("Failed to make the MD5 and SHA-1 digests\n");
        endWalk(cursor);
        return false;
    }
    auto pipe = std::make_unique<Pipeline>();
    preparePipeline(*pipe, walk);
    if (pipe->mode == Pipeline::Mode::Always) {
        startPipeline(*pipe, cursor);
    }
    bool written = true;
    bool failed = false;
    diag::ProgressCounts counts;
    while (written) {
        if (pipe->running) {
            PipelineStep& step = nextPipelineStep(*pipe);
            if (step.kind == PipelineStep::Kind::End) {
                break;
            }
            if (step.kind == PipelineStep::Kind::File || step.kind == PipelineStep::Kind::NotARom) {
                showWalkProgress(counts, walk, step.path, step.work.bytes);
            }
            if (step.kind == PipelineStep::Kind::Problem) {
                reportWalkProblem(step.problem, walk.rules.keepGoing);
                failed = true;
            } else if (step.kind == PipelineStep::Kind::NotARom) {
                reportNotARom(step.path);
            } else {
                written = catalogueRead(step, walk, *buffers, failed);
            }
            finishPipelineStep(*pipe);
            continue;
        }
        WalkStep step;
        if (!nextStep(cursor, step)) {
            break;
        }
        if (step.kind == WalkStep::Kind::Problem) {
            reportWalkProblem(cursor.problem, walk.rules.keepGoing);
            failed = true;
            continue;
        }
        if (step.kind == WalkStep::Kind::NotARom) {
            reportNotARom(step.path);
            continue;
        }
        // The walk times some of its files, to learn whether readers ahead
        // of it would pay.
        using Clock = std::chrono::steady_clock;
        const bool sampled = wantsSample(*pipe);
        const Clock::time_point start = sampled ? Clock::now() : Clock::time_point{};
        Clock::time_point waited{};
        const std::uint64_t readBefore = buffers->reader.bytesRead;
        written = catalogueStep(step, walk, *buffers, failed, sampled ? &waited : nullptr);
        showWalkProgress(counts, walk, step.path, buffers->reader.bytesRead - readBefore);
        ++pipe->filesWalked;
        if (sampled &&
            countSample(pipe->rule,
                        (waited == Clock::time_point{} ? Clock::now() : waited) - start)) {
            startPipeline(*pipe, cursor);
        }
    }
    stopPipeline(*pipe);
    endWalk(cursor);
    closeFileReader(buffers->reader);
    // Every failure that did not end the walk was one it kept going after.
    walkedWhole = written && (!failed || walk.rules.keepGoing);
    return written && !failed;
}
