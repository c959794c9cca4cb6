// Running a transfer worker from the command line: progress as a bar on a terminal (plain
// lines otherwise), status lines, and Ctrl-C doing what the Cancel button does.
#pragma once

#include "cli/CliSession.h"
#include "transfer/CopyThreads.h"

namespace corvane::cli {

struct TTransferOutcome {
    bool CancelRequested = false;
    int Steps = 0;
};

// Starts worker (made with session.Queue's dispatcher) and pumps its reports until its final
// status; total is the number of items, for the bar.
TTransferOutcome RunTransfer(TCliSession& session, TCopyThread& worker, int total);

}  // namespace corvane::cli
