#include "importer/soundinfo.h"

#include "importer/embeddedtags.h"
#include "importer/soundsource.h"

#include <mpg123.h>
#include <sndfile.h>

#include <QByteArrayView>
#include <cerrno>
#include <cstring>
#include <memory>
#include <span>

namespace kalvero::importer {

namespace {

// One place a text may be read from. The keys are literals, so that looking
// up a file's texts allocates nothing.
struct Place {
    TagSource source;
    QString key;
};

using S = TagSource;

// Where each text is looked for, in order; the first place that has it wins.
const Place kTitle[] = {
    {S::Id3v2, QStringLiteral("TITLE")},      {S::Vorbis, QStringLiteral("TITLE")},
    {S::Info, QStringLiteral("INAM")},        {S::Aiff, QStringLiteral("NAME")},
    {S::Ixml, QStringLiteral("USER/FXNAME")}, {S::Ixml, QStringLiteral("USER/TRACKTITLE")},
    {S::Id3v1, QStringLiteral("TITLE")},      {S::Sndfile, QStringLiteral("TITLE")}};
const Place kDescription[] = {
    {S::Bext, QStringLiteral("DESCRIPTION")},   {S::Ixml, QStringLiteral("USER/DESCRIPTION")},
    {S::Vorbis, QStringLiteral("DESCRIPTION")}, {S::Vorbis, QStringLiteral("COMMENT")},
    {S::Id3v2, QStringLiteral("COMMENT")},      {S::Info, QStringLiteral("ICMT")},
    {S::Aiff, QStringLiteral("ANNO")},          {S::Id3v1, QStringLiteral("COMMENT")},
    {S::Sndfile, QStringLiteral("COMMENT")}};
const Place kArtist[] = {
    {S::Id3v2, QStringLiteral("ARTIST")},       {S::Vorbis, QStringLiteral("ARTIST")},
    {S::Info, QStringLiteral("IART")},          {S::Aiff, QStringLiteral("AUTH")},
    {S::Ixml, QStringLiteral("USER/DESIGNER")}, {S::Id3v1, QStringLiteral("ARTIST")},
    {S::Sndfile, QStringLiteral("ARTIST")}};
const Place kOriginator[] = {{S::Bext, QStringLiteral("ORIGINATOR")}};
const Place kOriginatorReference[] = {{S::Bext, QStringLiteral("ORIGINATORREFERENCE")}};
const Place kOriginationDate[] = {
    {S::Bext, QStringLiteral("ORIGINATIONDATE")}, {S::Id3v2, QStringLiteral("DATE")},
    {S::Vorbis, QStringLiteral("DATE")},          {S::Info, QStringLiteral("ICRD")},
    {S::Id3v1, QStringLiteral("DATE")},           {S::Sndfile, QStringLiteral("DATE")}};
const Place kKeywords[] = {{S::Ixml, QStringLiteral("USER/KEYWORDS")},
                           {S::Vorbis, QStringLiteral("KEYWORDS")},
                           {S::Id3v2, QStringLiteral("KEYWORDS")},
                           {S::Info, QStringLiteral("IKEY")}};
const Place kGenre[] = {{S::Id3v2, QStringLiteral("GENRE")},
                        {S::Vorbis, QStringLiteral("GENRE")},
                        {S::Info, QStringLiteral("IGNR")},
                        {S::Id3v1, QStringLiteral("GENRE")},
                        {S::Sndfile, QStringLiteral("GENRE")}};
const Place kLibrary[] = {
    {S::Ixml, QStringLiteral("USER/LIBRARY")}, {S::Ixml, QStringLiteral("ASWG/LIBRARY")},
    {S::Id3v2, QStringLiteral("ALBUM")},       {S::Vorbis, QStringLiteral("ALBUM")},
    {S::Info, QStringLiteral("IPRD")},         {S::Id3v1, QStringLiteral("ALBUM")},
    {S::Sndfile, QStringLiteral("ALBUM")}};
const Place kCopyright[] = {{S::Id3v2, QStringLiteral("COPYRIGHT")},
                            {S::Vorbis, QStringLiteral("COPYRIGHT")},
                            {S::Info, QStringLiteral("ICOP")},
                            {S::Aiff, QStringLiteral("(c) ")},
                            {S::Sndfile, QStringLiteral("COPYRIGHT")}};
// The UCS fields in iXML; the file's name comes after them.
const Place kCatId[] = {{S::Ixml, QStringLiteral("USER/CATID")},
                        {S::Ixml, QStringLiteral("ASWG/CATID")}};
const Place kUserCategory[] = {{S::Ixml, QStringLiteral("USER/USERCATEGORY")},
                               {S::Ixml, QStringLiteral("ASWG/USERCATEGORY")}};
const Place kVendorCategory[] = {{S::Ixml, QStringLiteral("USER/VENDORCATEGORY")}};
const Place kFxName[] = {{S::Ixml, QStringLiteral("USER/FXNAME")},
                         {S::Ixml, QStringLiteral("ASWG/FXNAME")}};
const Place kCreatorId[] = {{S::Ixml, QStringLiteral("USER/CREATORID")},
                            {S::Ixml, QStringLiteral("ASWG/CREATORID")}};
const Place kSourceId[] = {{S::Ixml, QStringLiteral("USER/SOURCEID")},
                           {S::Ixml, QStringLiteral("ASWG/SOURCEID")}};
const Place kUserData[] = {{S::Ixml, QStringLiteral("USER/USERDATA")}};

QString firstOf(const EmbeddedTags& tags, std::span<const Place> places) {
    for (const Place& place : places) {
        if (!tags.has(place.source)) continue;
        const QString text = tags.text(place.source, place.key);
        if (!text.isEmpty()) return text;
    }
    return {};
}

QString fixedText(const char* text, size_t size) {
    return cleanTagText(decodeUndeclared(QByteArrayView(text, qsizetype(strnlen(text, size)))));
}

void readBroadcastExtension(SNDFILE* file, EmbeddedTags& tags) {
    SF_BROADCAST_INFO bext{};
    if (sf_command(file, SFC_GET_BROADCAST_INFO, &bext, sizeof bext) != SF_TRUE) return;
    tags.set(S::Bext, QStringLiteral("DESCRIPTION"),
             fixedText(bext.description, sizeof bext.description));
    tags.set(S::Bext, QStringLiteral("ORIGINATOR"),
             fixedText(bext.originator, sizeof bext.originator));
    tags.set(S::Bext, QStringLiteral("ORIGINATORREFERENCE"),
             fixedText(bext.originator_reference, sizeof bext.originator_reference));
    const QString date = fixedText(bext.origination_date, sizeof bext.origination_date);
    const QString time = fixedText(bext.origination_time, sizeof bext.origination_time);
    if (!date.isEmpty())
        tags.set(S::Bext, QStringLiteral("ORIGINATIONDATE"),
                 time.isEmpty() ? date : date + QLatin1Char(' ') + time);
}

// For the formats TagLib does not read (RF64, W64, CAF, AU).
void readSndfileStrings(SNDFILE* file, EmbeddedTags& tags) {
    const std::pair<int, const char*> strings[] = {
        {SF_STR_TITLE, "TITLE"},        {SF_STR_COMMENT, "COMMENT"}, {SF_STR_ARTIST, "ARTIST"},
        {SF_STR_DATE, "DATE"},          {SF_STR_ALBUM, "ALBUM"},     {SF_STR_GENRE, "GENRE"},
        {SF_STR_COPYRIGHT, "COPYRIGHT"}};
    for (const auto& [id, key] : strings) {
        if (const char* text = sf_get_string(file, id))
            tags.set(S::Sndfile, QLatin1String(key),
                     cleanTagText(decodeUndeclared(QByteArrayView(text, qstrlen(text)))));
    }
}

// An MP3's length counted from its frames: without a Xing or VBRI header,
// a length taken from the first frame's bit rate is a guess, and a wrong one
// for a variable bit rate. -1 when the stream cannot be read.
qint64 countMpegFrames(const SoundSource& source) {
    std::unique_ptr<mpg123_handle, void (*)(mpg123_handle*)> handle(mpg123_new(nullptr, nullptr),
                                                                    mpg123_delete);
    if (!handle) return -1;
    mpg123_param(handle.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    auto read = [](void* self, void* out, size_t count) -> ssize_t {
        auto& cursor = *static_cast<SoundSource::Cursor*>(self);
        const qint64 got =
            cursor.source->readAt(cursor.position, static_cast<char*>(out), qint64(count));
        cursor.position += got;
        return ssize_t(got);
    };
    auto seek = [](void* self, off_t offset, int whence) -> off_t {
        auto& cursor = *static_cast<SoundSource::Cursor*>(self);
        const qint64 base = whence == SEEK_CUR   ? cursor.position
                            : whence == SEEK_END ? cursor.source->size()
                                                 : 0;
        if (base + offset < 0) return -1;
        cursor.position = base + offset;
        return off_t(cursor.position);
    };
    SoundSource::Cursor cursor{&source};
    if (mpg123_replace_reader_handle(handle.get(), read, seek, nullptr) != MPG123_OK ||
        mpg123_open_handle(handle.get(), &cursor) != MPG123_OK)
        return -1;
    qint64 frames = -1;
    if (mpg123_scan(handle.get()) == MPG123_OK) frames = mpg123_length(handle.get());
    mpg123_close(handle.get());
    return frames >= 0 ? frames : -1;
}

// The text between the last '/' and the last '.' after it (or the end).
QByteArrayView baseName(QByteArrayView path) {
    QByteArrayView name = path.sliced(path.lastIndexOf('/') + 1);
    const qsizetype dot = name.lastIndexOf('.');
    return dot > 0 ? name.first(dot) : name;
}

// The name of the folder that holds the file.
QByteArrayView folderName(QByteArrayView path) {
    const QByteArrayView folder = path.first(std::max<qsizetype>(path.lastIndexOf('/'), 0));
    return folder.sliced(folder.lastIndexOf('/') + 1);
}

// The UCS fields: each from iXML when it has it, else from the file's name.
void readUcs(const EmbeddedTags& tags, const QByteArray& path, SoundInfo& info) {
    UcsName fromName;
    parseUcsName(QString::fromUtf8(baseName(path)), fromName);
    auto either = [&tags](std::span<const Place> places, const QString& fallback) {
        const QString text = firstOf(tags, places);
        return text.isEmpty() ? fallback : text;
    };
    // A CatID counts only when the list has it, letter case and all.
    QString catId;
    for (const Place& place : kCatId) {
        const QString text = tags.text(place.source, place.key);
        if (catId.isEmpty() && !text.isEmpty() && !ucsCategoryFull(text).isEmpty()) catId = text;
    }
    if (catId.isEmpty())
        catId = ucsCatIdFor(tags.text(S::Ixml, QStringLiteral("USER/CATEGORY")),
                            tags.text(S::Ixml, QStringLiteral("USER/SUBCATEGORY")));
    if (catId.isEmpty())
        catId = ucsCatIdFor(tags.text(S::Ixml, QStringLiteral("ASWG/CATEGORY")),
                            tags.text(S::Ixml, QStringLiteral("ASWG/SUBCATEGORY")));
    if (catId.isEmpty()) catId = fromName.catId;
    info.ucs.catId = catId;
    info.ucsCategory = ucsCategoryFull(catId);
    info.ucs.userCategory = either(kUserCategory, fromName.userCategory);
    info.ucs.vendorCategory = either(kVendorCategory, fromName.vendorCategory);
    info.ucs.fxName = either(kFxName, fromName.fxName);
    info.ucs.creatorId = either(kCreatorId, fromName.creatorId);
    info.ucs.sourceId = either(kSourceId, fromName.sourceId);
    info.ucs.userData = either(kUserData, fromName.userData);
}

}  // namespace

// ISO 8601 in UTC. By hand: QDateTime and gmtime cost more than the rest of
// a small file's facts. The date comes from the day count by the usual
// civil-from-days arithmetic over 400-year eras.
QString isoTime(qint64 secondsSinceEpoch) {
    const qint64 days =
        secondsSinceEpoch >= 0 ? secondsSinceEpoch / 86400 : (secondsSinceEpoch - 86399) / 86400;
    const qint64 inDay = secondsSinceEpoch - days * 86400;
    const qint64 z = days + 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 dayOfEra = z - era * 146097;
    const qint64 yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 mp = (5 * dayOfYear + 2) / 153;
    const qint64 day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const qint64 month = mp < 10 ? mp + 3 : mp - 9;
    const qint64 year = yearOfEra + era * 400 + (month <= 2);
    const qint64 parts[] = {year, month, day, inDay / 3600, inDay / 60 % 60, inDay % 60};
    const char separators[] = {'-', '-', 'T', ':', ':', 'Z'};
    char text[40];
    char* out = text;
    for (int i = 0; i < 6; ++i) {
        const int width = i == 0 ? 4 : 2;
        char digits[20];
        int count = 0;
        for (qint64 n = parts[i]; n > 0 || count < width; n /= 10)
            digits[count++] = char('0' + n % 10);
        while (count > 0) *out++ = digits[--count];
        *out++ = separators[i];
    }
    return QString::fromLatin1(text, out - text);
}

SoundInfo readSoundInfo(const QByteArray& path) {
    SoundInfo result;
    SoundSource source(path);
    if (!source.isOpen()) {
        if (source.error() == ENOENT) result.status = SoundInfo::Status::Missing;
        return result;
    }
    ContainerKind kind = sniffContainer(source.head());
    EmbeddedTags tags;
    // libsndfile does not read Ogg FLAC; TagLib tells its facts below.
    if (kind != ContainerKind::OggFlac) {
        SF_INFO info{};
        SF_VIRTUAL_IO io = SoundSource::sndfileIo();
        SoundSource::Cursor cursor{&source};
        if (SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &cursor)) {
            result.status = SoundInfo::Status::Readable;
            result.technical = technicalFacts(info);
            if (kind == ContainerKind::Aifc) result.technical.container = QStringLiteral("AIFC");
            readBroadcastExtension(file, tags);
            if (kind == ContainerKind::Rf64 || kind == ContainerKind::Other)
                readSndfileStrings(file, tags);
            sf_close(file);
            if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG) {
                kind = ContainerKind::Mpeg;
                if (const qint64 frames = countMpegFrames(source); frames >= 0)
                    result.technical.frames = frames;
            }
        }
    }
    TechnicalFacts oggFlac;
    readEmbeddedTags(source, kind, tags, &oggFlac);
    if (kind == ContainerKind::OggFlac && !oggFlac.container.isEmpty()) {
        result.status = SoundInfo::Status::Readable;
        result.technical = oggFlac;
    }
    result.technical.fileSize = source.size();
    result.technical.modified = source.modified();
    if (result.status == SoundInfo::Status::Readable)
        result.summary = formatSummary(result.technical);

    result.title = firstOf(tags, kTitle);
    result.description = firstOf(tags, kDescription);
    result.artist = firstOf(tags, kArtist);
    result.originator = firstOf(tags, kOriginator);
    result.originatorReference = firstOf(tags, kOriginatorReference);
    result.originationDate = firstOf(tags, kOriginationDate);
    result.keywords = firstOf(tags, kKeywords);
    result.genre = firstOf(tags, kGenre);
    result.library = firstOf(tags, kLibrary);
    result.copyright = firstOf(tags, kCopyright);
    readUcs(tags, path, result);
    return result;
}

EntryTexts entryTexts(const QByteArray& path, const SoundInfo& info) {
    EntryTexts texts;
    const QString base = QString::fromUtf8(baseName(path));
    UcsName fromName;
    if (!info.title.isEmpty())
        texts.name = info.title;
    else if (parseUcsName(base, fromName) && !fromName.fxName.isEmpty())
        texts.name = fromName.fxName;
    else
        texts.name = base;
    texts.category =
        info.ucsCategory.isEmpty() ? QString::fromUtf8(folderName(path)) : info.ucsCategory;
    texts.description = info.description;
    if (!info.summary.isEmpty())
        texts.description +=
            (texts.description.isEmpty() ? QString() : QStringLiteral(" | ")) + info.summary;
    return texts;
}

store::FactValues factValues(const SoundInfo& info) {
    using store::Fact;
    store::FactValues facts;
    facts[Fact::Title] = info.title;
    facts[Fact::Description] = info.description;
    facts[Fact::Artist] = info.artist;
    facts[Fact::Originator] = info.originator;
    facts[Fact::OriginatorReference] = info.originatorReference;
    facts[Fact::OriginationDate] = info.originationDate;
    facts[Fact::Keywords] = info.keywords;
    facts[Fact::Genre] = info.genre;
    facts[Fact::Library] = info.library;
    facts[Fact::Copyright] = info.copyright;
    facts[Fact::CatID] = info.ucs.catId;
    facts[Fact::UCSCategory] = info.ucsCategory;
    facts[Fact::UserCategory] = info.ucs.userCategory;
    facts[Fact::VendorCategory] = info.ucs.vendorCategory;
    facts[Fact::FXName] = info.ucs.fxName;
    facts[Fact::CreatorID] = info.ucs.creatorId;
    facts[Fact::SourceID] = info.ucs.sourceId;
    facts[Fact::UserData] = info.ucs.userData;
    const TechnicalFacts& t = info.technical;
    facts[Fact::Container] = t.container;
    facts[Fact::Codec] = t.codec;
    auto number = [](qint64 n, qint64 least) {
        return n >= least ? QString::number(n) : QString();
    };
    facts[Fact::SampleRate] = number(t.sampleRate, 1);
    facts[Fact::BitDepth] = number(t.bitDepth, 1);
    facts[Fact::Channels] = number(t.channels, 1);
    facts[Fact::Frames] = number(t.frames, 0);
    facts[Fact::Duration] = formatDuration(t.frames, t.sampleRate);
    facts[Fact::FileSize] = number(t.fileSize, 0);
    if (t.modified >= 0) facts[Fact::Modified] = isoTime(t.modified);
    return facts;
}

}  // namespace kalvero::importer
