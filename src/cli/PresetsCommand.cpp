// quaverly-cli presets: the presets --preset takes. On a terminal an aligned table under a
// header, wrapped at kColumns; elsewhere (a pipe, a file: scripts and the bash completion read
// it) one preset a line with tabs between, as it always was.
#include "cli/CommandSupport.h"

#include "engines/encoder/Presets.h"

#include <algorithm>

namespace quaverly::cli {

namespace {

constexpr qsizetype kGap = 2; // spaces between two columns

void printTable(std::FILE* out) {
    struct Row {
        QString id, name, note;
    };
    QList<Row> rows{{QStringLiteral("ID"), QStringLiteral("NAME"), QStringLiteral("WRITES")}};
    for (const encode::Preset& p : encode::presets())
        rows.append({QLatin1String(p.id), QLatin1String(p.name), QString::fromUtf8(p.note)});
    qsizetype idWidth = 0;
    qsizetype nameWidth = 0;
    for (const Row& r : rows) {
        idWidth = std::max(idWidth, r.id.size());
        nameWidth = std::max(nameWidth, r.name.size());
    }
    // The last column wraps under itself when a row would be too wide.
    const qsizetype noteColumn = idWidth + kGap + nameWidth + kGap;
    for (const Row& r : rows) {
        const QString note = wrapLine(QString(noteColumn, u' ') + r.note, noteColumn);
        say(out, r.id.leftJustified(idWidth + kGap) + r.name.leftJustified(nameWidth + kGap) +
                     note.mid(noteColumn));
    }
}

} // namespace

int presetsCommand(const QStringList&, const Options&, const Io& io) {
    if (io.outIsTerminal) {
        printTable(io.out);
        return kOk;
    }
    for (const encode::Preset& p : encode::presets())
        say(io.out,
            QStringLiteral("%1\t%2\t%3")
                .arg(QLatin1String(p.id), QLatin1String(p.name), QString::fromUtf8(p.note)));
    return kOk;
}

} // namespace quaverly::cli
