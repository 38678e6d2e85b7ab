#include "window/factstips.h"

#include "importer/soundsummary.h"
#include "reconcile/catalogueanalysis.h"
#include "store/facts.h"
#include "window/fileexistence.h"
#include "window/listview1.h"

#include <QFileInfo>
#include <QHelpEvent>
#include <QToolTip>

namespace kalvero::window {

namespace {

constexpr int kNameColumn = 1;

// A hover must not wait for another program's write.
constexpr int kTipBusyTimeoutMs = 50;

QString factsText(const store::FactValues& facts) {
    using store::Fact;
    QStringList lines;
    auto line = [&lines](const char* label, const QString& value) {
        if (!value.isEmpty()) lines << QLatin1String(label) + value;
    };
    line("UCS category: ", facts[Fact::UCSCategory]);
    line("Creator: ", facts[Fact::Artist].isEmpty() ? facts[Fact::CreatorID] : facts[Fact::Artist]);
    line("Library: ",
         facts[Fact::Library].isEmpty() ? facts[Fact::SourceID] : facts[Fact::Library]);
    line("Duration: ", facts[Fact::Duration]);
    // The catalogue's summary without its duration, shown on the line above.
    importer::TechnicalFacts format;
    format.container = facts[Fact::Container];
    format.codec = facts[Fact::Codec];
    format.sampleRate = facts[Fact::SampleRate].toInt();
    format.bitDepth = facts[Fact::BitDepth].toInt();
    format.channels = facts[Fact::Channels].toInt();
    line("Format: ", importer::formatSummary(format));
    // What kalvero-cli analyse measured, in the units its info shows.
    line("Loudness: ", reconcile::shownFact(Fact::Loudness, facts[Fact::Loudness]));
    line("Loudness range: ", reconcile::shownFact(Fact::LoudnessRange, facts[Fact::LoudnessRange]));
    line("Sample peak: ", reconcile::shownFact(Fact::SamplePeak, facts[Fact::SamplePeak]));
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

EntryFactsTips::EntryFactsTips(ListView1* list, const QString& cataloguePath)
    : QObject(list), list_(list), catalogue_(store::Catalogue::forFile(cataloguePath)) {
    list->viewport()->installEventFilter(this);
}

QString EntryFactsTips::toolTipFor(int row) {
    const QString name = list_->rows()->text(row, kNameColumn);
    bool isNumber = false;
    const qint64 id = list_->rows()->text(row, 0).toLongLong(&isNumber);
    if (!isNumber) return name;
    if (id != lastId_) {
        lastFacts_.clear();
        // A catalogue that is gone is not made anew by a hover.
        if (QFileInfo(catalogue_.filePath()).size() > 0) {
            try {
                catalogue_.begin();
                catalogue_.run(QStringLiteral("PRAGMA busy_timeout = %1").arg(kTipBusyTimeoutMs));
                if (const auto facts = store::readFacts(catalogue_.connection(), id))
                    lastFacts_ = factsText(*facts);
                lastId_ = id;
            } catch (const store::DbError&) {
                // Locked, damaged or gone: the name alone this time.
            }
            catalogue_.end();
        }
    }
    return lastFacts_.isEmpty() ? name : name + QLatin1Char('\n') + lastFacts_;
}

bool EntryFactsTips::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QObject::eventFilter(watched, event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = list_->indexAt(help->pos());
    // A missing file's tooltip says so; the delegate shows it.
    if (!index.isValid() || index.column() != kNameColumn || list_->fileStates()->isMissing(index))
        return QObject::eventFilter(watched, event);
    QToolTip::showText(help->globalPos(), toolTipFor(index.row()), list_->viewport(),
                       list_->visualRect(index));
    return true;
}

}  // namespace kalvero::window
