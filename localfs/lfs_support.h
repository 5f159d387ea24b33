// Local folder and file services shared by the local workers and the file
// transfers. Each reports what it deletes or creates to `notifier` (may be
// null) with the full path.
#pragma once

#include <string>

namespace qb {

class INotifier;

// An existing entry counts only if it is a folder (a link to a folder
// counts); a missing one is created, with its missing parents if need be.
bool EnsureLocalFolder(const std::string& path, INotifier* notifier);

// Creates every missing folder of `path` from the root down. Fails when one
// cannot be created or a part of the path is not a folder.
bool CreateLocalFolderPath(const std::string& path, INotifier* notifier);

// Deletes a file (a link is deleted, never its target).
bool DeleteLocalFile(const std::string& path, INotifier* notifier);

// Removes an empty folder.
bool RemoveLocalFolder(const std::string& path, INotifier* notifier);

} // namespace qb
