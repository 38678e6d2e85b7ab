#include "playback/player/factsline.h"

#include "importer/soundinfo.h"
#include "reconcile/audioanalysis.h"

#include <QStringList>

namespace kalvero::player {

namespace {

// A note of thousands of characters would push the buttons off the screen.
constexpr qsizetype kShownDescription = 300;

}  // namespace

QString factsLine(const importer::SoundInfo& info, const std::optional<Loudness>& loudness) {
    QStringList lines;
    if (!info.title.isEmpty()) lines << info.title;
    if (!info.description.isEmpty()) {
        lines << (info.description.size() > kShownDescription
                      ? info.description.left(kShownDescription).trimmed() + QChar(0x2026)
                      : info.description);
    }
    // Where the tags have no creator or library, the UCS name's IDs stand for them.
    const QString creator = info.artist.isEmpty() ? info.ucs.creatorId : info.artist;
    const QString library = info.library.isEmpty() ? info.ucs.sourceId : info.library;
    QStringList details;
    if (!info.ucsCategory.isEmpty()) details << QStringLiteral("Category: ") + info.ucsCategory;
    if (!creator.isEmpty()) details << QStringLiteral("Creator: ") + creator;
    if (!library.isEmpty()) details << QStringLiteral("Library: ") + library;
    if (!details.isEmpty()) lines << details.join(QStringLiteral(" \u00b7 "));
    if (loudness) {
        lines << QStringLiteral("Loudness: ") +
                     reconcile::formatLoudness(loudness->integratedLufs) +
                     QStringLiteral(" \u00b7 Sample peak: ") +
                     reconcile::formatPeak(loudness->samplePeak);
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace kalvero::player
