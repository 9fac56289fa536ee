#include "app/KeepSoundHint.h"

#include "ui/ElidedLabel.h"
#include "ui/OutputChoice.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

namespace quaverly {

KeepSoundHint::KeepSoundHint(ElidedLabel& label, std::function<std::optional<Clip>()> clipInHand,
                             std::function<OutputChoice()> output, QObject* parent)
    : QObject(parent), label_(label), clipInHand_(std::move(clipInHand)),
      output_(std::move(output)) {}

void KeepSoundHint::show(const QString& words) {
    label_.setFullText(words);
}

void KeepSoundHint::refresh() {
    const std::optional<Clip> clip = clipInHand_();
    if (!clip) {
        show({});
        return;
    }
    const OutputChoice choice = output_();
    const framecopy::ClipOutput output = clipOutputFor(
        choice, QStringLiteral("clip.") + QLatin1String(formats::info(choice.format()).extension));
    const KeepChance chance = keepChance(clip->origin, clip->formatWord, *output.kind,
                                         choice.keepsSound(), clip->effects);
    if (chance.kind == KeepChance::Kind::OtherCodec) {
        show({});
        return;
    }
    if (chance.kind != KeepChance::Kind::Maybe) {
        show(reencodedWords(chance.why));
        return;
    }
    // The question: the song's file as it was added, and the output as it is now.
    const SongOrigin& origin = clip->origin;
    const QString question =
        QStringLiteral("%1|%2|%3|%4|%5|%6")
            .arg(origin.file)
            .arg(origin.size)
            .arg(origin.modified.toMSecsSinceEpoch())
            .arg(int(choice.format()))
            .arg(choice.value(choice.format()))
            .arg(output.preset ? QLatin1String(output.preset->id) : QLatin1String());
    if (const auto answer = answers_.constFind(question); answer != answers_.constEnd()) {
        show(answer->isEmpty() ? framecopy::keptWords() : reencodedWords(*answer));
        return;
    }
    show({});
    if (asked_.contains(question))
        return;
    asked_.insert(question);
    // The answer comes back through the application object, which outlives the pool's work;
    // the hint may have gone by then.
    QThreadPool::globalInstance()->start(
        [hint = QPointer<KeepSoundHint>(this), question, song = origin.file, output] {
            const Status kept = framecopy::canKeep(song, output);
            const QString why = kept ? QString() : kept.error().cause();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [hint, question, why] {
                    if (!hint)
                        return;
                    hint->asked_.remove(question);
                    hint->answers_.insert(question, why);
                    hint->refresh();
                },
                Qt::QueuedConnection);
        });
}

} // namespace quaverly
