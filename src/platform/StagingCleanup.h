// Staging folders removed when the program is ended by SIGINT, SIGTERM or SIGHUP at any
// moment: a staged copy of a device's database must not stay behind in the temp folder.
#pragma once

#include <string>

namespace corvane {

// Counts folder (a flat folder of our own) for removal on those signals; the handlers are
// installed on first use wherever the signal still has its default action (an ignored
// signal, as under nohup, stays ignored). After the removal the signal ends the program as
// it would have.
void RegisterStagingFolder(const std::string& folder);
void UnregisterStagingFolder(const std::string& folder);

}  // namespace corvane
