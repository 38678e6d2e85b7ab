#include "cli/cli.h"

#include "cli/clicommands.h"
#include "importer/counted.h"
#include "importer/folderimport.h"
#include "store/catalogue.h"
#include "store/dberrortext.h"

#include <unistd.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

namespace kalvero::cli {

namespace {

// The commands. A new command is one row here.
const Command kCommands[] = {
    {"import", "PATH...",
     "Adds the sound files in the folders (walked recursively) and the files named.", 1, -1,
     nullptr, runImport},
    {"export", "FILE.csv",
     "Writes every entry, in ID order, to a CSV file (- for standard output).", 1, 1, exportOptions,
     runExport},
    {"import-csv", "FILE.csv",
     "Adds the rows of a CSV file such as export writes, or none if the file is malformed; a row "
     "equal to an entry already there is skipped.",
     1, 1, importCsvOptions, runImportCsv},
    {"missing", "", "Lists the entries whose file is missing: ID, name and path, one per line.", 0,
     0, missingOptions, runMissing},
    {"info", "ID|PATH...",
     "Prints every text and fact of the entries with these IDs or file paths, one 'field: value' "
     "a line.",
     1, -1, infoOptions, runInfo},
    {"relink", "OLD_FOLDER NEW_FOLDER",
     "Moves every entry under OLD_FOLDER to NEW_FOLDER (the start of its path is rewritten). "
     "With --find FOLDER instead: points each missing entry to the file under FOLDER that has its "
     "analysed audio.",
     0, 2, relinkOptions, runRelink},
    {"prune", "",
     "Removes the entries whose file is missing, and lists them as missing does; never those on "
     "a drive that is not connected, nor under a folder where most files are missing.",
     0, 0, pruneOptions, runPrune},
    {"duplicates", "",
     "Lists the entries that name the same path, then those whose analysed audio is the same, in "
     "groups, largest first.",
     0, 0, duplicatesOptions, runDuplicates},
    {"analyse", "",
     "Measures the audio hash, loudness and peak of every entry's file that was not analysed "
     "since it last changed, and keeps them with the entry's facts.",
     0, 0, analyseOptions, runAnalyse},
    {"rescan", "[FOLDER...]",
     "Imports the new sound files in the folders (default: every folder that holds entries), "
     "reads the facts of changed files again, and lists the entries whose file is gone.",
     0, -1, nullptr, runRescan},
};

// Whether `command` takes `option` (an option such as --dry-run may belong to several).
bool takes(const Command& command, const QCommandLineOption& option) {
    if (!command.options) return false;
    for (const QCommandLineOption& own : command.options()) {
        if (own.names() == option.names()) return true;
    }
    return false;
}

const Command* findCommand(const QString& name) {
    for (const Command& command : kCommands) {
        if (name == QLatin1String(command.name)) return &command;
    }
    return nullptr;
}

QString commandUsage(const Command& command) {
    return QLatin1String(command.name) + QLatin1Char(' ') + QLatin1String(command.arguments);
}

QString helpText(const QCommandLineParser& parser) {
    QString text = parser.helpText();
    text += QStringLiteral("\nCommands:\n");
    for (const Command& command : kCommands) {
        text += QStringLiteral("  %1\n      %2\n")
                    .arg(commandUsage(command), QLatin1String(command.summary));
    }
    text += QStringLiteral(
        "\nExit status: 0 on success, 1 when the command failed (what was stored before the "
        "failure is kept whole), 2 when the command line was wrong.\n");
    return text;
}

// A successful command whose results were not all written has failed.
int checkOutput(Console& console, int code) {
    if (code != kSuccess || !console.outputFailed()) return code;
    console.error(QStringLiteral("The results could not be written: %1.")
                      .arg(qt_error_string(console.outputError())));
    return kFailure;
}

}  // namespace

Console::Console(FILE* out, FILE* err)
    : out_(out), err_(err), interactive_(isatty(fileno(err)) == 1) {}

void Console::print(const QString& line) {
    endProgress();
    // After a failed write the rest would be a list with a hole in it.
    if (outputFailed()) return;
    errno = 0;
    if (std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), out_) == EOF ||
        std::fflush(out_) == EOF)
        outputError_ = errno != 0 ? errno : EIO;
}

void Console::error(const QString& line) {
    endProgress();
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), err_);
    std::fflush(err_);
}

void Console::progress(const QString& line) {
    if (interactive_) {
        // Back to the line's start and clear it: the new text may be shorter.
        std::fputs(("\r\033[K" + line.toUtf8()).constData(), err_);
        progressShown_ = true;
    } else {
        std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), err_);
    }
    std::fflush(err_);
}

void Console::endProgress() {
    if (!progressShown_) return;
    std::fputs("\n", err_);
    std::fflush(err_);
    progressShown_ = false;
}

bool prepareCatalogue(Invocation& call) {
    try {
        importer::createCatalogueIfMissing(call.cataloguePath);
        return true;
    } catch (const store::DbError& error) {
        call.console.error(
            store::describeFailure(QStringLiteral("open"), call.cataloguePath, error));
        return false;
    }
}

QString escapedField(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
            case '\\':
                out += QLatin1String("\\\\");
                break;
            case '\t':
                out += QLatin1String("\\t");
                break;
            case '\n':
                out += QLatin1String("\\n");
                break;
            case '\r':
                out += QLatin1String("\\r");
                break;
            default:
                out += c;
        }
    }
    return out;
}

namespace {

std::atomic<bool>* interruptFlag = nullptr;

// Ctrl+C stops after the current batch, as Cancel does in the window.
extern "C" void onInterrupt(int) {
    if (interruptFlag) interruptFlag->store(true);
}

}  // namespace

void runWithProgress(Console& console, std::atomic<bool>& cancel, const std::function<void()>& work,
                     const std::function<QString(qint64)>& line,
                     const std::function<qint64()>& milestone) {
    interruptFlag = &cancel;
    auto* previous = std::signal(SIGINT, onInterrupt);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
    });
    QElapsedTimer clock;
    clock.start();
    qint64 lastMilestone = 0;
    while (!done.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (console.interactive()) {
            console.progress(line(clock.elapsed()));
        } else if (const qint64 reached = milestone(); reached > lastMilestone) {
            lastMilestone = reached;
            console.progress(line(clock.elapsed()));
        }
    }
    worker.join();
    std::signal(SIGINT, previous);
    interruptFlag = nullptr;
    if (console.interactive()) console.progress(line(clock.elapsed()));
    console.endProgress();
}

QString rateText(qint64 count, qint64 elapsedMs) {
    const double seconds = std::max<qint64>(elapsedMs, 1) / 1000.0;
    return importer::counted(qRound64(double(count) / seconds), QStringLiteral("%1 file/s"),
                             QStringLiteral("%1 files/s"));
}

bool catalogueExists(Invocation& call) {
    if (QFileInfo::exists(call.cataloguePath)) return true;
    call.console.error(QStringLiteral("No catalogue at %1.").arg(call.cataloguePath));
    return false;
}
int run(const QStringList& arguments, const QString& programFolder, Console& console) {
    // A reader that went away (`kalvero-cli missing | head -1`) or a file-size
    // limit reached by an export is a failed write to report (and, for an
    // export, a temporary file to remove), not a signal that ends the tool in
    // the middle of a write.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Fills and reads Kalvero's catalogue from the command line."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption catalogueOption(
        QStringLiteral("catalogue"),
        QStringLiteral("The catalogue file to use (default: %1 beside the program). A missing "
                       "one is created as the program creates it.")
            .arg(QLatin1String(store::Catalogue::kFileName)),
        QStringLiteral("FILE"));
    parser.addOption(catalogueOption);
    // Each option once, named with every command that takes it.
    std::vector<std::pair<QCommandLineOption, QStringList>> options;
    for (const Command& command : kCommands) {
        if (!command.options) continue;
        for (const QCommandLineOption& option : command.options()) {
            auto known = std::find_if(options.begin(), options.end(), [&](const auto& o) {
                return o.first.names() == option.names();
            });
            if (known == options.end()) known = options.insert(options.end(), {option, {}});
            known->second << QLatin1String(command.name);
        }
    }
    for (auto& [option, owners] : options) {
        option.setDescription(option.description() +
                              QStringLiteral(" (%1)").arg(owners.join(QStringLiteral(", "))));
        parser.addOption(option);
    }
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("One of the commands below."));
    parser.addPositionalArgument(QStringLiteral("arguments"),
                                 QStringLiteral("The command's arguments."),
                                 QStringLiteral("[arguments...]"));

    if (!parser.parse(arguments)) {
        console.error(parser.errorText());
        console.error(QStringLiteral("Try 'kalvero-cli --help'."));
        return kUsageError;
    }
    if (parser.isSet(helpOption)) {
        console.print(helpText(parser).trimmed());
        return checkOutput(console, kSuccess);
    }
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        console.error(QStringLiteral("No command given. Try 'kalvero-cli --help'."));
        return kUsageError;
    }
    const Command* command = findCommand(positional.takeFirst());
    if (!command) {
        console.error(QStringLiteral("Unknown command '%1'. Try 'kalvero-cli --help'.")
                          .arg(parser.positionalArguments().constFirst()));
        return kUsageError;
    }
    // A command's options belong to that command only.
    for (const Command& other : kCommands) {
        if (&other == command || !other.options) continue;
        for (const QCommandLineOption& option : other.options()) {
            if (parser.isSet(option) && !takes(*command, option)) {
                console.error(QStringLiteral("The option --%1 belongs to '%2', not to '%3'.")
                                  .arg(option.names().constFirst(), QLatin1String(other.name),
                                       QLatin1String(command->name)));
                return kUsageError;
            }
        }
    }
    const qsizetype count = positional.size();
    if (count < command->minArguments ||
        (command->maxArguments >= 0 && count > command->maxArguments)) {
        console.error(QStringLiteral("Usage: kalvero-cli %1").arg(commandUsage(*command)));
        return kUsageError;
    }
    QString cataloguePath = parser.value(catalogueOption);
    if (parser.isSet(catalogueOption) && cataloguePath.isEmpty()) {
        console.error(QStringLiteral("--catalogue needs a file name."));
        return kUsageError;
    }
    if (cataloguePath.isEmpty())
        cataloguePath = QDir(programFolder).filePath(QLatin1String(store::Catalogue::kFileName));
    Invocation call{positional, parser, QFileInfo(cataloguePath).absoluteFilePath(), console};
    return checkOutput(console, command->run(call));
}

}  // namespace kalvero::cli
