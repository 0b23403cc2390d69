#pragma once

#include <optional>

#include <QByteArray>

// The window program's command line: [OPTION...] [--] [FILE].

// Answers --help and --version, before Qt starts, so that they need no
// display: the exit status where the program ends here, else nothing.
std::optional<int> answerOwnOptions(int argc, char *argv[]);

// The FILE among the arguments that Qt left (empty where none is given),
// or nothing, with a line on stderr, for an option the program does not know.
std::optional<QByteArray> fileArgument(int argc, char *argv[]);
