// Moving an item between two volumes so that the process, or the power, may end at any instant: the
// item is copied beside its destination under a hidden staging name and flushed to the disk, put in
// place by one rename once its entry says so, flushed again, and only then deleted at its source.
// Whatever the end interrupts, one place holds the whole item: the source until the rename, the
// destination from then on.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace plx {

// For tests: the hook is called with the name of each step of a move as the step is reached (see
// the callers for the names). The tests stop the process there, as a crash would. Returns the hook
// set before; null sets none.
using StoreStepHook = void (*)(const char* step);
StoreStepHook SetStoreStepHook(StoreStepHook hook);
void ReachedStep(const char* step);

// The names in a folder with their attributes, read before anything in it changes.
std::vector<std::pair<std::string, DWORD>> FolderEntries(const std::string& folder);

// True when the folders that hold from and to lie on one volume, where a move is one rename. When
// either volume cannot be told, they count as two.
bool OnSameVolume(const std::string& from, const std::string& to);

// The same for a batch of moves, which asks the system once per folder, not once per item.
class VolumeCache {
public:
    bool OnSameVolume(const std::string& from, const std::string& to);

private:
    const std::string& VolumeOfFolder(const std::string& folder);
    std::map<std::string, std::string> volumes_;  // folder -> its volume's root, or empty
};

// Where the copy of a move between volumes grows until it is complete: beside to.
std::string StagingPathFor(const std::string& to);
bool IsStagingPath(const std::string& path);

enum class MoveResult {
    Stayed,   // the item is whole at its source, and nothing of it is at the destination
    Arrived,  // the item is whole at its destination, and its source is gone
    // Not settled yet: the item is whole at its destination and its source could not be deleted yet,
    // or what is left of a staging copy may be somebody's last copy and stays for the user. Tried
    // again later.
    Split,
    // The item is whole at its source, and the destination holds something that is not its copy.
    Both,
};

// How far a move between volumes is, as its entry records it. Unknown: an entry of an earlier version,
// which recorded the move without its phase.
enum class MovePhase { Unknown, Copying, Placed };

// What the user sees of long moves between volumes, and how they stop them.
class MoveProgress {
public:
    // Before the first copy of a batch: the bytes that its moves between volumes will copy.
    virtual void Begin(ULONGLONG totalBytes) = 0;
    // The item whose copy comes next.
    virtual void Item(const std::string& path) = 0;
    // So many more bytes copied; false once the user asked to stop.
    virtual bool Advance(ULONGLONG bytes) = 0;

protected:
    ~MoveProgress() = default;
};

// The bytes of the files of a file or a folder, links not followed.
ULONGLONG TreeSize(const std::string& path);

// Writes the phase of the move into its entry and flushes it; true once it is on the disk.
using MoveRecord = std::function<bool(MovePhase)>;

// Copies from (a file or a folder) to its staging place and flushes every copied file, records the
// placed phase, renames the copy to to, gives it the attributes of from, flushes it, and deletes the
// whole of from, or nothing of it. Refused (Stayed) when to or the staging place is taken, or from
// holds a link; also when the copy fails or progress is stopped meanwhile, or the placed phase cannot be
// recorded: then the copy goes, once the copying phase is recorded again. When from cannot be deleted
// whole (a file held open) or was written meanwhile, the move is undone the same way.
MoveResult MoveAcrossVolumes(const std::string& from, const std::string& to, const MoveRecord& record,
                             MoveProgress* progress);

// Finishes or undoes a move between volumes that an end of the process or of the power interrupted,
// never deleting anything of which no other copy exists:
// - in the copying phase (or an unknown one, an earlier version's, which flushed nothing) a staging
//   copy goes, file by file where its source file is there; what is left of it stays where it is,
//   shown, for the user (Split), and a to is not the move's copy (Both);
// - in the placed phase a staging copy that is whole is renamed into place; one that is not goes back to
//   the copying phase, recorded before anything of it goes;
// - once to is in place, from goes whole when it is as it was copied, after to has its attributes; a
//   source that was written since the copy, or got a file, undoes the move while it is whole.
MoveResult SettleMoveAcrossVolumes(const std::string& from, const std::string& to, MovePhase phase,
                                   const MoveRecord& record);

// A move on one volume: one rename, never a copy, so nothing is ever split. Both when the rename fails
// because the destination was taken meanwhile.
MoveResult RenameOnVolume(const std::string& from, const std::string& to);

}  // namespace plx
