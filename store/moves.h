// Moving an item between two volumes so that the process may end at any instant: the item is copied
// beside its destination under a staging name, put in place by one rename, and only then deleted at
// its source. Whatever the end interrupts, one place holds the whole item: the source until the
// rename, the destination from then on.
#pragma once

#include <windows.h>

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
    Split,    // the item is whole at its destination; part of its source could not be deleted yet
};

// Copies from (a file or a folder) to its staging place, renames that to to and deletes from. Refused
// (Stayed) when to or the staging place is taken, or from holds a link. When not one file of the
// source can be deleted (held open), the move is undone.
MoveResult MoveAcrossVolumes(const std::string& from, const std::string& to);

// Finishes or undoes a move between volumes that the end of the process interrupted: once to is in
// place, what is left of from goes, where it matches the copy; before that the copy goes.
MoveResult SettleMoveAcrossVolumes(const std::string& from, const std::string& to);

}  // namespace plx
