// quaverly-cli presets: the presets --preset takes, one a line.
#include "cli/CommandSupport.h"

#include "engines/encoder/Presets.h"

namespace quaverly::cli {

int presetsCommand(const QStringList&, const Options&, const Io& io) {
    for (const encode::Preset& p : encode::presets())
        say(io.out,
            QStringLiteral("%1\t%2\t%3")
                .arg(QLatin1String(p.id), QLatin1String(p.name), QString::fromUtf8(p.note)));
    return kOk;
}

} // namespace quaverly::cli
