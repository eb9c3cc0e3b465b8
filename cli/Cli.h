// kelmora-cli: the program's core without windows, for scripts and for a first look at a
// device. `RunCli` is the whole program; main() only passes the arguments and streams.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// Exit codes: 0 success, 1 device error or time-out, 2 usage error.
int RunCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// The usage text of --help.
std::string CliUsage();
