// One subcommand of the command line, as the table in Commands.cpp lists it.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

namespace yubin::cli {

// What runs when the subcommand was chosen: after parsing, over the values its options were
// given; returns the exit code (CliSupport.h). A YubinError thrown out of it is printed with its
// number and description and ends the program with kExitFailure.
using CommandRun = std::function<int()>;

struct Command {
    const char* name;  // the word on the command line
    const char* help;  // its line in --help
    // Adds the subcommand's arguments and options to `command` and returns its run, which
    // reads the values they were given.
    CommandRun (*setup)(CLI::App& command);
};

// Every subcommand, in the order of --help.
const std::vector<Command>& Commands();

}  // namespace yubin::cli
