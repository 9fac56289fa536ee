// quaverly-cli inputs: the sound device's recording inputs, one a line.
#include "cli/CommandSupport.h"

#include "engines/audio/CaptureDevice.h"

namespace quaverly::cli {

int inputsCommand(const QStringList&, const Options&, const Io& io) {
    auto device = audio::CaptureDevice::open();
    if (!device)
        return failed(io, QStringLiteral("cannot open the sound device's inputs: ") +
                              soundError(device.error()));
    const auto inputs = device->inputs();
    if (!inputs)
        return failed(io, QStringLiteral("cannot list the inputs: ") + soundError(inputs.error()));
    int number = 0;
    for (const audio::RecordingInput& input : *inputs) {
        if (!input.present) {
            // A source that went away while the device was open.
            say(io.out, QStringLiteral("%1\tgone\t-\t-\t%2").arg(number++).arg(input.description));
            continue;
        }
        say(io.out, QStringLiteral("%1\t%2\t%3\t%4\t%5")
                        .arg(number++)
                        .arg(input.chosen ? QStringLiteral("on") : QStringLiteral("off"))
                        .arg(audio::inputKindText(input.kind))
                        .arg(input.level)
                        .arg(input.description));
    }
    return kOk;
}

} // namespace quaverly::cli
