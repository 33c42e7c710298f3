// Reading ahead of the walk. When a tree's files are not in memory, each of
// the walk's reads waits for the device in turn. Helper threads that follow
// the walk's own order a bounded number of files ahead ask for the first
// bytes of each file the walk is about to read, so that many requests are in
// flight at once and the walk's reads find the bytes in memory. The helpers
// print nothing and decide nothing: whether they run, fail or lag, the walk
// does and writes exactly the same.
#pragma once

#include "platform/platform.h"

struct WalkSettings;
struct Lookahead;

/// Readies the look-ahead of a walk of `directory` with `walk`'s settings,
/// both of which must outlive it; nothing starts yet. The environment
/// variable CARTOLOG_LOOKAHEAD set to "off" turns it off, and "on" starts the
/// helpers at the walk's first file; otherwise they start once the walk finds
/// that its files are not in memory.
Lookahead& prepareLookahead(const wchar_t* directory, const WalkSettings& walk);

/// The walk is about to open the next file that it reads.
void approachFile(Lookahead& ahead);

/// The walk has opened that file, and is about to read it: some files' reads
/// are asked to tell whether their bytes were in memory.
void fileOpened(Lookahead& ahead, const platform::File& file);

/// The walk has read that file (or found it no ROM), and closes it next.
void fileRead(Lookahead& ahead, const platform::File& file);

/// Stops the helpers and waits for them: the walk has ended.
void endLookahead(Lookahead& ahead);
