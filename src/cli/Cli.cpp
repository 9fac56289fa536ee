// quaverly-cli's command line: the command table, the usage texts and the reading of each
// command's options; the commands themselves live in one file each.
#include "cli/Cli.h"

#include "cli/CommandSupport.h"
#include "cli/Console.h"
#include "cli/Target.h"
#include "engines/formats/Formats.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <cstring>
#include <vector>

namespace quaverly::cli {
namespace {

struct Command {
    const char* name;
    const char* usage;
    const char* help;
    QStringList valued; // options that take a value
    int minArgs;
    int maxArgs; // -1: any
    int (*run)(const QStringList& args, const Options& opts, const Io& io);
    bool writes = false;    // takes the output options of Target.h, and tells them in its help
    int out = -1;           // the positional argument that is OUT, for a writing command
    QStringList flags = {}; // options that take no value
};

// The options of every command that writes a sound file (Target.h).
const QStringList kTargetOptions{QStringLiteral("preset"), QStringLiteral("bitrate"),
                                 QStringLiteral("quality"), QStringLiteral("level"),
                                 QStringLiteral("title")};
#define TARGET_USAGE "[--preset NAME] [--bitrate N | --quality Q | --level L] [--title TEXT]"

// The end of every writing command's help, after the output options.
const char* const kProgressHelp =
    "While it works a line on standard error shows a bar, the percent done and the time left,\n"
    "when standard error is a terminal; nothing of it stays when the command ends.\n"
    "  --quiet        no progress line\n"
    "Ctrl+C stops the work: OUT is left as it was (or is not made), and the exit status is\n"
    "130.";
// The same for the others.
const char* const kQuietHelp = "  --quiet        no progress line on standard error";

const std::vector<Command>& commands() {
    static const std::vector<Command> all = {
        {"convert", "convert IN OUT " TARGET_USAGE,
         "Converts IN to OUT, chosen by OUT's extension: .wav decodes IN into a 16-bit PCM WAV\n"
         "file; any other encodes it (see below). IN is any song file the program reads, found\n"
         "by its content, of these kinds:\n"
         "{kinds}.\n"
         "More than two channels are mixed down to stereo.",
         kTargetOptions, 2, 2, convertCommand, true, 1},
        {"join", "join OUT IN... " TARGET_USAGE,
         "Joins the song files IN (any kind convert reads), in order, into OUT, as the song\n"
         "list joins its songs: the result takes the first song's rate and channels, the others\n"
         "are converted to it. The clip's tags are the first song's, titled \"Song list\".",
         kTargetOptions, 2, -1, joinCommand, true, 0},
        {"cut",
         "cut IN OUT --from T --to T [--fade-in MS] [--fade-out MS] "
         "[--normalize-peak DBFS | --normalize-loudness LUFS] [--copy | --reencode] " TARGET_USAGE,
         "Cuts IN (any song file convert reads) down to the stretch from --from to --to, as the\n"
         "clip editor does, and writes it to OUT. A time T is milliseconds (2500) or\n"
         "h:mm:ss.mmm (0:00:02.500, 1:05). --from must lie before --to.\n"
         "When OUT is of IN's own codec (an MP3 of an MP3, an M4A or M4R of an AAC song in MP4,\n"
         "a FLAC of a FLAC, a WAV of a PCM WAV), with no fade, normalising or --bitrate and\n"
         "nothing in a preset that the song's own sound does not meet, the clip keeps the song's\n"
         "frames: no second encoding and its loss, a FLAC or WAV clip at the song's own sample\n"
         "width, and an MP3 or M4A clip that starts and ends on the marks in every player that\n"
         "honours its gapless information. This is said on standard output, and so is why not\n"
         "when OUT is of IN's codec but the clip is encoded again from the cut.\n"
         "\n"
         "  --copy                       keep the song's frames or fail, saying why\n"
         "  --reencode                   always cut the decoded sound and encode it again\n"
         "  --fade-in MS, --fade-out MS  linear fades from silence at the clip's start and to\n"
         "                               silence at its end (milliseconds, or a time T);\n"
         "                               fades longer than the clip share it\n"
         "  --normalize-peak DBFS        brings the largest sample to DBFS (at most 0, e.g. -1)\n"
         "  --normalize-loudness LUFS    brings the EBU R128 integrated loudness to LUFS (-70\n"
         "                               to 0, e.g. -14), as far as the peak allows without\n"
         "                               clipping\n"
         "The two normalisings exclude each other; what the normalising did is printed.",
         QStringList{QStringLiteral("from"), QStringLiteral("to"), QStringLiteral("fade-in"),
                     QStringLiteral("fade-out"), QStringLiteral("normalize-peak"),
                     QStringLiteral("normalize-loudness")} +
             kTargetOptions,
         2, 2, cutCommand, true, 1,
         QStringList{QStringLiteral("copy"), QStringLiteral("reencode")}},
        {"info",
         "info FILE",
         "Prints the format, the duration in milliseconds and in samples (frames per channel)\n"
         "and the size of the sound data of a song file (of a WAV file as it is, of any other\n"
         "as it decodes); then the codec, the container, the channels mixed down to stereo if\n"
         "there are more than two, and the frames of encoder delay and padding the decode\n"
         "removes. A length the file only estimates is measured by decoding it to its end.",
         {},
         1,
         1,
         infoCommand},
        {"inputs",
         "inputs",
         "Lists the recording inputs of the sound device, one a line, with tabs between: the\n"
         "number, on or off (on: the input recorded from, the sound server's default input),\n"
         "the type as the recorder shows it, the level (0-100) and the name.",
         {},
         0,
         0,
         inputsCommand},
        {"record", "record OUT --seconds S [--input N] " TARGET_USAGE,
         "Records S seconds (fractions allowed) of 44100 Hz stereo 16-bit sound from input N\n"
         "(see 'inputs'; default: the one that is on) into OUT. Any format but WAV is encoded\n"
         "from the take written as a WAV file first, which is removed.",
         QStringList{QStringLiteral("seconds"), QStringLiteral("input")} + kTargetOptions, 1, 1,
         recordCommand, true, 0},
        {"presets",
         "presets",
         "Lists the presets --preset takes: the id, the name (either may be given to\n"
         "--preset) and what the preset writes. On a terminal they form a table under a\n"
         "header; otherwise (a pipe, a file) each is one line with tabs between, for scripts.",
         {},
         0,
         0,
         presetsCommand},
    };
    return all;
}

qsizetype leadingSpaces(const QString& line) {
    qsizetype n = 0;
    while (n < line.size() && line[n] == u' ')
        ++n;
    return n;
}

// Help text filled into lines of at most kColumns: a paragraph (lines that start in the first
// column, up to an empty or an indented line) is filled as one; an entry of an option list
// ("  --opt X   what it does", its later lines under "what") keeps its label and fills its
// description under the description's column.
QString wrapped(const QString& text) {
    const QStringList lines = text.split(u'\n');
    QStringList out;
    for (qsizetype i = 0; i < lines.size();) {
        const QString& line = lines[i];
        const qsizetype indent = leadingSpaces(line);
        if (indent == line.size()) {
            out << QString();
            ++i;
            continue;
        }
        if (indent == 0) {
            QString paragraph = line;
            while (++i < lines.size() && !lines[i].isEmpty() && leadingSpaces(lines[i]) == 0)
                paragraph += u' ' + lines[i];
            out << wrapLine(paragraph, 0);
            continue;
        }
        const qsizetype gap = line.indexOf(QLatin1String("  "), indent);
        const qsizetype column = gap < 0 ? indent : leadingSpaces(line.mid(gap)) + gap;
        QString description = line.mid(column);
        while (++i < lines.size() && leadingSpaces(lines[i]) >= column &&
               leadingSpaces(lines[i]) < lines[i].size())
            description += u' ' + lines[i].trimmed();
        out << line.left(column) +
                   wrapLine(QString(column, u' ') + description, column).mid(column);
    }
    return out.join(u'\n');
}

// A command's usage after `lead` ("usage: quaverly-cli "), wrapped with its later lines under
// the command's first argument.
QString usageLine(const QString& lead, const Command& c) {
    const QString line = lead + QLatin1String(c.usage);
    return wrapLine(line, lead.size() + qsizetype(std::strlen(c.name)) + 1);
}

void print(std::FILE* f, const QString& text) {
    std::fputs(consoleBytes(text).constData(), f);
}

void usage(std::FILE* f) {
    QString text = QStringLiteral(
        "usage: quaverly-cli COMMAND [ARGS]   (quaverly-cli COMMAND --help for more)\n"
        "commands:\n");
    for (const auto& c : commands())
        text += usageLine(QStringLiteral("  quaverly-cli "), c) + u'\n';
    text += QStringLiteral("every command takes --quiet: no progress line on standard error\n"
                           "quaverly-cli --version prints the program's version\n");
    print(f, text);
}

// One command's words as Qt's parser reads them.
struct Line {
    bool help = false;
    bool quiet = false;
    QString badOption; // an unknown option or one without its value, as typed
    QStringList positional;
    Options opts;
};

// The word that gave the option `name`: Qt's parser reports an unknown option by its name, the
// message shows it as typed ("--frob=3", "-frob").
QString typedOption(const QStringList& words, const QString& name) {
    for (const QString& w : words) {
        const qsizetype dashes = w.startsWith(QLatin1String("--")) ? 2
                                 : w.startsWith(QLatin1Char('-'))  ? 1
                                                                   : 0;
        if (dashes > 0 && w.size() > dashes &&
            w.mid(dashes).section(QLatin1Char('='), 0, 0) == name)
            return w;
    }
    return QStringLiteral("--") + name;
}

// Reads a command's options: "--opt value" or "--opt=value", and "-opt" as "--opt" (not as
// the letters o, p, t); a value may start with "-" ("--input -1" reaches the command, which
// refuses it in its own words); "--" ends the options, for a file name that starts with "-".
// Only the command's own options are known: another command's option is unknown here.
Line readLine(const Command& c, const QStringList& words) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOption(help);
    const QCommandLineOption quiet(QStringLiteral("quiet"));
    parser.addOption(quiet);
    for (const QString& name : c.valued)
        parser.addOption(QCommandLineOption(name, QString(), QStringLiteral("value")));
    for (const QString& name : c.flags)
        parser.addOption(QCommandLineOption(name));

    Line line;
    const bool parsed = parser.parse(QStringList{QStringLiteral("quaverly-cli")} + words);
    line.help = parser.isSet(help);
    line.quiet = parser.isSet(quiet);
    if (!parsed) {
        // Besides an unknown option, the parser fails only on a value option that is the last
        // word (errorText(): "Missing value after ...").
        const QStringList unknown = parser.unknownOptionNames();
        line.badOption = unknown.isEmpty() ? words.last() : typedOption(words, unknown.first());
    }
    line.positional = parser.positionalArguments();
    for (const QString& name : c.valued) {
        if (parser.isSet(name))
            line.opts[name] = parser.value(name); // the last one given
    }
    for (const QString& name : c.flags) {
        if (parser.isSet(name))
            line.opts[name] = QString();
    }
    return line;
}

// Runs a command whose line has been read; a writing command catches Ctrl+C meanwhile, and its
// cancel is told here, once, for whatever step it stopped.
int runCommand(const Command& c, const Line& line, const Io& io) {
    if (!c.writes)
        return c.run(line.positional, line.opts, io);
    const CatchInterrupt ctrlC;
    const int code = c.run(line.positional, line.opts, io);
    if (code == kCancelled)
        say(io.err, QStringLiteral("quaverly-cli: cancelled; %1 was not written")
                        .arg(line.positional[c.out]));
    return code;
}

} // namespace

int run(const QStringList& args, std::FILE* out, std::FILE* err) {
    if (args.isEmpty() || args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h")) {
        usage(args.isEmpty() ? err : out);
        return args.isEmpty() ? kUsage : kOk;
    }
    if (args[0] == QLatin1String("--version")) {
        std::fprintf(out, "quaverly-cli %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return kOk;
    }
    const auto& all = commands();
    const auto it = std::find_if(
        all.begin(), all.end(), [&](const Command& c) { return args[0] == QLatin1String(c.name); });
    if (it == all.end()) {
        say(err, QStringLiteral("quaverly-cli: unknown command '%1'").arg(args[0]));
        usage(err);
        return kUsage;
    }
    const Line line = readLine(*it, args.mid(1));
    // Asking for help gets it, whatever else the line holds.
    const QString usageText = usageLine(QStringLiteral("usage: quaverly-cli "), *it) + u'\n';
    if (line.help) {
        // The kinds read come from the reader's table, as the window's lists do.
        QString help =
            QString::fromUtf8(it->help).replace(QLatin1String("{kinds}"), formats::kindNames()) +
            QStringLiteral("\n\n");
        if (it->writes)
            help += QString::fromUtf8(kTargetHelp) + QStringLiteral("\n\n") +
                    QLatin1String(kProgressHelp);
        else
            help += QLatin1String(kQuietHelp);
        print(out, usageText + u'\n' + wrapped(help) + u'\n');
        return kOk;
    }
    if (!line.badOption.isNull()) {
        say(err, QStringLiteral("quaverly-cli %1: unknown or incomplete option '%2'")
                     .arg(QLatin1String(it->name), line.badOption));
        print(err, usageText);
        return kUsage;
    }
    const auto count = line.positional.size();
    if (count < it->minArgs || (it->maxArgs >= 0 && count > it->maxArgs)) {
        print(err, usageText);
        return kUsage;
    }
    return runCommand(*it, line, Io{out, err, !line.quiet && isTerminal(err), isTerminal(out)});
}

} // namespace quaverly::cli
