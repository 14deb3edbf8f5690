// A shell command run to its end, for the tests that drive the programs as a user does.
#pragma once
#include <string>

namespace tallox::test {

struct CommandResult {
    int status = -1;  // the exit status; -1 when the command did not exit (a signal)
    std::string out;  // its standard output
};

// Runs `command` with /bin/sh and reads its standard output to the end.
CommandResult RunCommand(const std::string& command);

}  // namespace tallox::test
