// File names of a transfer: resolving against the transfer folder, and
// turning a name the far end proposed into one that is safe to create.
#pragma once

#include <string>

namespace xfer {

// A name without a folder separator lives in the transfer folder; one with
// a separator is used as given. An empty folder means the current one.
std::string resolveInFolder(const std::string& folder, const std::string& name);

// The last component of a name from the far end ("/" and "\" both
// separate); empty for an empty result, "." or "..".
std::string safeReceivedName(const std::string& proposed);

// "UNTITLED.nnn" in the folder with the first free number from 0 to 999;
// empty when all are taken.
std::string nextUntitled(const std::string& folder);

// The path itself when nothing exists there, else the first free
// "path.1", "path.2", ...
std::string nextFreeVariant(const std::string& path);

bool pathExists(const std::string& path);

// The length of a regular file, or -1 for anything else.
long long regularFileLength(const std::string& path);

}  // namespace xfer
