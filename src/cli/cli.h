#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdio>
#include <functional>
#include <vector>

// The command-line tool kalvero-cli: one table of commands, each a function
// that gets its arguments, its options and the catalogue's path.
//
// Adding a command: write `int runName(Invocation&)` (and, if it takes
// options of its own, `std::vector<QCommandLineOption> nameOptions()`) in a
// file of this folder, declare them in clicommands.h, and add one
// row to the table in cli.cpp. Parsing, --help, --catalogue and the exit
// status of a wrong call are handled here for every command.
namespace kalvero::cli {

// The tool's exit status.
enum ExitCode : int {
    kSuccess = 0,
    // The command failed; whatever it stored before the failure is whole, and nothing further.
    kFailure = 1,
    // The command line was wrong; nothing was done.
    kUsageError = 2,
};

// Where a command writes: results on standard output, errors and progress on
// standard error. Progress is one line updated in place on a terminal and
// otherwise a line now and then, so logs stay readable. A result that could
// not be written (a full disk, a reader that went away) is remembered, and
// run() reports the command as failed: a script must not take a cut-off list
// for a whole one.
class Console {
public:
    Console(FILE* out, FILE* err);
    // Whether progress is drawn in place (standard error is a terminal).
    bool interactive() const { return interactive_; }
    void print(const QString& line);
    void error(const QString& line);
    // Replaces the progress line on a terminal; elsewhere prints it as a line.
    void progress(const QString& line);
    // Ends an in-place progress line, so that what follows starts on a line of its own.
    void endProgress();
    // Whether some result could not be written, and the system's reason (errno) for the first.
    bool outputFailed() const { return outputError_ != 0; }
    int outputError() const { return outputError_; }

private:
    FILE* out_;
    FILE* err_;
    bool interactive_;
    bool progressShown_ = false;
    int outputError_ = 0;
};

// What a command gets when it runs.
struct Invocation {
    // The arguments after the command's name, already checked against its counts.
    QStringList arguments;
    // The parsed command line, for the command's own options.
    const QCommandLineParser& parser;
    // The catalogue file: --catalogue, or the one beside the program.
    QString cataloguePath;
    Console& console;
};

struct Command {
    const char* name;
    // The arguments as --help shows them, e.g. "PATH...".
    const char* arguments;
    // One line for --help.
    const char* summary;
    int minArguments;
    // -1: any number.
    int maxArguments;
    // The command's own options; null when it has none.
    std::vector<QCommandLineOption> (*options)();
    int (*run)(Invocation&);
};

// For commands that write: creates a missing catalogue as the program does;
// false, with the reason said, when that fails.
bool prepareCatalogue(Invocation& call);
// For commands that only read: false, with the reason said, when there is no catalogue.
bool catalogueExists(Invocation& call);

// Runs `work` on a thread of its own and shows `line(elapsedMs)` as progress
// meanwhile: every tenth of a second on a terminal, elsewhere each time
// `milestone()` grows, so a log gets a line now and then. Ctrl+C sets
// `cancel`, for the work to stop at its next safe point with what it did
// kept, rather than ending the program in the middle of a write.
void runWithProgress(Console& console, std::atomic<bool>& cancel, const std::function<void()>& work,
                     const std::function<QString(qint64 elapsedMs)>& line,
                     const std::function<qint64()>& milestone);
// "12 files/s": `count` files in `elapsedMs`.
QString rateText(qint64 count, qint64 elapsedMs);

// One field of a line of output: a tab or a line break inside a name or a
// path would split the line, so they are written as \t, \n and \r, and a
// backslash as \\.
QString escapedField(const QString& text);

// Runs the tool on `arguments` (the program's name first). `programFolder`
// holds the default catalogue. A command that succeeded but whose results
// could not all be written ends with kFailure.
int run(const QStringList& arguments, const QString& programFolder, Console& console);

}  // namespace kalvero::cli
