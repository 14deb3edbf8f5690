// Measurements in a child process, so that a codec that crashes, exhausts memory or never
// returns costs its own record and not the whole run.
#pragma once
#include <functional>
#include <optional>
#include <string>

#include "engine/run_host.h"

namespace tallox::cli {

using RowSink = std::function<void(const Row& row)>;

// Forks a child that runs `measure`; every row the child hands to its sink comes back over a
// pipe as a fixed record and goes to `sink` here as it arrives. The reason, when the child did
// not end well: "crashed (SIGSEGV)" for a signal, "timed out after S s" when it ran longer
// than `timeoutSeconds` (0: no limit) and was killed, "exited with status N" otherwise.
std::optional<std::string> RunIsolated(const std::function<void(const RowSink&)>& measure,
                                       double timeoutSeconds, const RowSink& sink);

}  // namespace tallox::cli
