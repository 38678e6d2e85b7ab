#pragma once

#include "importer/soundsummary.h"
#include "importer/ucs.h"
#include "store/facts.h"

#include <QByteArray>
#include <QString>

namespace kalvero::importer {

// What a sound file says about itself: its technical facts (libsndfile,
// mpg123 for MP3's length, TagLib for Ogg FLAC) and the texts its tags hold
// (TagLib, libsndfile's broadcast extension, iXML), each taken from the first
// place, in a fixed order, that has it.
struct SoundInfo {
    enum class Status { Readable, Unreadable, Missing };
    Status status = Status::Unreadable;
    // The embedded title; empty when there is none.
    QString title;
    // The embedded description: the broadcast description, iXML's, a Vorbis
    // description, then the first comment.
    QString description;
    // formatSummary() of the technical facts; empty for an unreadable file.
    QString summary;
    TechnicalFacts technical;
    QString artist;
    QString originator;
    QString originatorReference;
    QString originationDate;
    QString keywords;
    QString genre;
    QString library;
    QString copyright;
    // The UCS fields from iXML, else from the file's name. The CatID is one
    // of the list's; ucsCategory is its "Category-SubCategory".
    UcsName ucs;
    QString ucsCategory;
};

SoundInfo readSoundInfo(const QByteArray& path);

// The texts of a new entry for the file at `path` (UTF-8, as the walk gives it).
struct EntryTexts {
    // The embedded title, else the UCS FXName of a UCS file name, else the
    // file name without its extension.
    QString name;
    // The UCS category, else the name of the folder that holds the file.
    QString category;
    // The embedded description, " | " and the technical summary.
    QString description;
};
EntryTexts entryTexts(const QByteArray& path, const SoundInfo& info);

// The facts kept beside the entry.
store::FactValues factValues(const SoundInfo& info);

// A file's modification time as the Modified fact holds it: ISO 8601 in UTC,
// to the second, e.g. "2024-05-01T12:00:00Z".
QString isoTime(qint64 secondsSinceEpoch);

}  // namespace kalvero::importer
