// The mirror's entry points for the registry calls; not for callers.
#pragma once

#include "registry_store.h"

namespace lt::registry {

// True for the current user's Run and RunOnce keys.
bool isStartKey(const std::string& path);
// After any change under the classes root.
void mirrorFileTypes(const Store& classes);
// After a change of valueName in the current user's Run or RunOnce key.
void mirrorStartEntry(const Store& currentUser, const std::string& valueName);

}  // namespace lt::registry
