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

// One place a text may be read from.
struct Place {
    TagSource source;
    const char* key;
};

using S = TagSource;

// Where each text is looked for, in order; the first place that has it wins.
constexpr Place kTitle[] = {{S::Id3v2, "TITLE"},      {S::Vorbis, "TITLE"},
                            {S::Info, "INAM"},        {S::Aiff, "NAME"},
                            {S::Ixml, "USER/FXNAME"}, {S::Ixml, "USER/TRACKTITLE"},
                            {S::Id3v1, "TITLE"},      {S::Sndfile, "TITLE"}};
constexpr Place kDescription[] = {
    {S::Bext, "DESCRIPTION"}, {S::Ixml, "USER/DESCRIPTION"}, {S::Vorbis, "DESCRIPTION"},
    {S::Vorbis, "COMMENT"},   {S::Id3v2, "COMMENT"},         {S::Info, "ICMT"},
    {S::Aiff, "ANNO"},        {S::Id3v1, "COMMENT"},         {S::Sndfile, "COMMENT"}};
constexpr Place kArtist[] = {
    {S::Id3v2, "ARTIST"},       {S::Vorbis, "ARTIST"}, {S::Info, "IART"},     {S::Aiff, "AUTH"},
    {S::Ixml, "USER/DESIGNER"}, {S::Id3v1, "ARTIST"},  {S::Sndfile, "ARTIST"}};
constexpr Place kOriginator[] = {{S::Bext, "ORIGINATOR"}};
constexpr Place kOriginatorReference[] = {{S::Bext, "ORIGINATORREFERENCE"}};
constexpr Place kOriginationDate[] = {{S::Bext, "ORIGINATIONDATE"}, {S::Id3v2, "DATE"},
                                      {S::Vorbis, "DATE"},          {S::Info, "ICRD"},
                                      {S::Id3v1, "DATE"},           {S::Sndfile, "DATE"}};
constexpr Place kKeywords[] = {
    {S::Ixml, "USER/KEYWORDS"}, {S::Vorbis, "KEYWORDS"}, {S::Id3v2, "KEYWORDS"}, {S::Info, "IKEY"}};
constexpr Place kGenre[] = {{S::Id3v2, "GENRE"},
                            {S::Vorbis, "GENRE"},
                            {S::Info, "IGNR"},
                            {S::Id3v1, "GENRE"},
                            {S::Sndfile, "GENRE"}};
constexpr Place kLibrary[] = {{S::Ixml, "USER/LIBRARY"}, {S::Ixml, "ASWG/LIBRARY"},
                              {S::Id3v2, "ALBUM"},       {S::Vorbis, "ALBUM"},
                              {S::Info, "IPRD"},         {S::Id3v1, "ALBUM"},
                              {S::Sndfile, "ALBUM"}};
constexpr Place kCopyright[] = {{S::Id3v2, "COPYRIGHT"},
                                {S::Vorbis, "COPYRIGHT"},
                                {S::Info, "ICOP"},
                                {S::Aiff, "(c) "},
                                {S::Sndfile, "COPYRIGHT"}};
// The UCS fields in iXML; the file's name comes after them.
constexpr Place kCatId[] = {{S::Ixml, "USER/CATID"}, {S::Ixml, "ASWG/CATID"}};
constexpr Place kUserCategory[] = {{S::Ixml, "USER/USERCATEGORY"}, {S::Ixml, "ASWG/USERCATEGORY"}};
constexpr Place kVendorCategory[] = {{S::Ixml, "USER/VENDORCATEGORY"}};
constexpr Place kFxName[] = {{S::Ixml, "USER/FXNAME"}, {S::Ixml, "ASWG/FXNAME"}};
constexpr Place kCreatorId[] = {{S::Ixml, "USER/CREATORID"}, {S::Ixml, "ASWG/CREATORID"}};
constexpr Place kSourceId[] = {{S::Ixml, "USER/SOURCEID"}, {S::Ixml, "ASWG/SOURCEID"}};
constexpr Place kUserData[] = {{S::Ixml, "USER/USERDATA"}};

QString firstOf(const EmbeddedTags& tags, std::span<const Place> places) {
    for (const Place& place : places) {
        const QString text = tags.text(place.source, QLatin1String(place.key));
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
        const QString text = tags.text(place.source, QLatin1String(place.key));
        if (catId.isEmpty() && !ucsCategoryFull(text).isEmpty()) catId = text;
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
    if (t.modified.isValid()) facts[Fact::Modified] = t.modified.toString(Qt::ISODate);
    return facts;
}

}  // namespace kalvero::importer
