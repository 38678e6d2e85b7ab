// What the import reads from sound files and where each text goes: every
// source of every field and their order, UCS names, hostile tags, and the
// facts kept beside the entries.

#include "importer/folderimport.h"
#include "importer/soundinfo.h"
#include "playback/player/soundfile.h"
#include "store/transaction.h"
#include "taggedsounds.h"
#include "testsupport.h"
#include "window/factstips.h"
#include "window/listview1.h"

#include <sndfile.h>

#include <QHelpEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QToolTip>
#include <QtTest>

using namespace kalvero;
using test::SoundKind;
using Fact = store::Fact;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(SoundKind)

class TestSoundFacts : public QObject {
    Q_OBJECT
private slots:
    void mapping_data();
    void mapping();
    void mp3LengthCountedFromFrames();
    void damagedFiles_data();
    void damagedFiles();
    void factsBesideTheEntries();
    void analysisBesideTheImportsFacts();
    void oggFlacPlays();
    void listTooltip();
    void exportWithFacts();

private:
    QTemporaryDir dir_;
    int rows_ = 0;
};

namespace {

const QString kXml =
    QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><BWFXML>%1</BWFXML>");

QString ixml(const QString& body) { return QStringLiteral("ixml:") + kXml.arg(body); }

// A long text with the line breaks and tabs a real note has.
QString longNote() {
    QString text;
    for (int i = 0; text.size() < 8000; ++i)
        text += QStringLiteral("Take %1:\tdoor slams, close mic.\n").arg(i);
    return text.left(7999) + QLatin1Char('X');
}

// Runs kalvero-cli on the catalogue; returns its exit code.
int cli(const QString& catalogue, const QStringList& args, QString* out = nullptr,
        QString* err = nullptr) {
    QProcess process;
    process.start(QStringLiteral(KALVERO_CLI),
                  QStringList{QStringLiteral("--catalogue"), catalogue} + args);
    process.waitForFinished(60000);
    if (out) *out = QString::fromUtf8(process.readAllStandardOutput());
    if (err) *err = QString::fromUtf8(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// Runs SQL in the sqlcipher shell, as another program would; rows as a|b.
QString shell(const QString& catalogue, const QString& sql) {
    QProcess process;
    process.start(QStringLiteral("sqlcipher"),
                  {QStringLiteral("-batch"), QStringLiteral("-noheader"), catalogue});
    process.write(
        "PRAGMA key='4862vemo';\nPRAGMA cipher_compatibility=3;\n"
        "PRAGMA cipher_page_size=16384;\n" +
        sql.toUtf8() + '\n');
    process.closeWriteChannel();
    process.waitForFinished(60000);
    QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    lines.removeAll(QStringLiteral("ok"));
    lines.removeAll(QString());
    return lines.join(QLatin1Char('\n')) + QString::fromUtf8(process.readAllStandardError());
}

}  // namespace

void TestSoundFacts::mapping_data() {
    // Tags as writeTaggedSound takes them and the expected texts and facts as
    // "Key=value", both joined by '|'. NameData and Category are the entry's
    // texts; Description is the embedded part of DescriptionData (empty when
    // not given), which the summary follows.
    QTest::addColumn<QString>("file");
    QTest::addColumn<SoundKind>("kind");
    QTest::addColumn<QString>("tags");
    QTest::addColumn<QString>("summary");  // a pattern
    QTest::addColumn<QString>("expected");

    const QString wav = QStringLiteral("^WAV 44100 Hz 16-bit mono 0:00\\.10$");
    const QString lossy = QStringLiteral("^%1 %2 Hz mono 0:00\\.\\d\\d$");
    const QString scripts =
        u"\u98a8\u306e\u97f3 \u2014 \u0412\u0435\u0442\u0435\u0440 \u2014 \u0631\u064a\u062d \U0001F32C"_s;

    // Description: broadcast, then iXML, Vorbis DESCRIPTION, COMMENT, ID3, INFO, AIFF.
    QTest::newRow("bext over iXML and INFO; INFO title")
        << "Foley/a.wav" << SoundKind::Wav
        << ixml(u"<USER><DESCRIPTION>From iXML</DESCRIPTION></USER>"_s) +
               u"|bext:DESCRIPTION=From bext|bext:ORIGINATOR=Field Rec|bext:ORIGINATORREFERENCE="
               "REF-0042|bext:DATE=2023-04-05|bext:TIME=06:07:08|info:ICMT=From INFO|info:INAM="
               "Info title|info:IART=Info artist|info:IPRD=Info product|info:IGNR=Ambience|"
               "info:IKEY=door; slam|info:ICOP=(c) Us"_s
        << wav
        << u"NameData=Info title|Category=Foley|Description=From bext|Originator=Field Rec|"
           "OriginatorReference=REF-0042|OriginationDate=2023-04-05 06:07:08|Artist=Info "
           "artist|Library=Info product|Genre=Ambience|Keywords=door; slam|Copyright=(c) Us|"
           "Container=WAV|Codec=PCM|SampleRate=44100|BitDepth=16|Channels=1|Frames=4410|"
           "Duration=0:00.10"_s;
    QTest::newRow("iXML over INFO; iXML FXNAME as title; iXML library and keywords")
        << "Foley/b.wav" << SoundKind::Wav
        << ixml(
               u"<USER><DESCRIPTION>From iXML</DESCRIPTION><FXNAME>Fx title</FXNAME><LIBRARY>"
               "iXML lib</LIBRARY><KEYWORDS>wood, creak</KEYWORDS><DESIGNER>Jo Doe</DESIGNER>"
               "</USER>"_s) +
               u"|info:ICMT=From INFO|info:IPRD=Info product"_s
        << wav
        << u"NameData=Fx title|Category=Foley|Description=From iXML|Library=iXML lib|"
           "Keywords=wood, creak|Artist=Jo Doe|FXName=Fx title"_s;
    QTest::newRow("iXML TRACKTITLE as title")
        << "Foley/c.wav" << SoundKind::Wav
        << ixml(u"<USER><TRACKTITLE>Track title</TRACKTITLE></USER>"_s) << wav
        << u"NameData=Track title|Category=Foley|Title=Track title"_s;
    QTest::newRow("ID3 in WAV over INFO")
        << "Foley/d.wav" << SoundKind::Wav
        << u"id3:TITLE=ID3 title|id3:COMMENT=ID3 comment|id3:ARTIST=ID3 artist|id3:ALBUM=ID3 "
           "album|info:INAM=Info title|info:ICMT=From INFO|info:IART=Info artist"_s
        << wav
        << u"NameData=ID3 title|Category=Foley|Description=ID3 comment|Artist=ID3 artist|"
           "Library=ID3 album"_s;
    QTest::newRow("INFO in Latin-1, several scripts in UTF-8")
        << u"Fen\u00eatres/e.wav"_s << SoundKind::Wav
        << u"latin1:INAM=Fen\u00eatre \u00e0 c\u00f4t\u00e9|info:ICMT="_s + scripts << wav
        << u"NameData=Fen\u00eatre \u00e0 c\u00f4t\u00e9|Category=Fen\u00eatres|Description="_s +
               scripts;
    QTest::newRow("8,000-character INFO comment with line breaks and tabs")
        << "Notes/f.wav" << SoundKind::Wav << u"info:ICMT="_s + longNote() << wav
        << u"NameData=f|Category=Notes|Description="_s + longNote();

    // UCS: iXML first, then the file's name; the folder when neither has a CatID.
    QTest::newRow("UCS name with UserCategory, VendorCategory and UserData")
        << "Guns/GUNAuto-EXT_UZI 9mm-Rapid Fire Bursts_TN_NONE_416-MKH8040.wav" << SoundKind::Wav
        << QString() << wav
        << u"NameData=UZI 9mm-Rapid Fire Bursts|Category=GUNS-AUTOMATIC|CatID=GUNAuto|"
           "UCSCategory=GUNS-AUTOMATIC|UserCategory=EXT|VendorCategory=UZI 9mm|FXName=UZI "
           "9mm-Rapid Fire Bursts|CreatorID=TN|SourceID=NONE|UserData=416-MKH8040"_s;
    QTest::newRow("UCS name without UserCategory; embedded title wins the name")
        << "Doors/DOORWood_Creak Slow_JD_MYLIB.wav" << SoundKind::Wav << u"info:INAM=Old door"_s
        << wav
        << u"NameData=Old door|Category=DOORS-WOOD|CatID=DOORWood|UserCategory=|VendorCategory=|"
           "FXName=Creak Slow|CreatorID=JD|SourceID=MYLIB|UserData="_s;
    QTest::newRow("UCS FXName when nothing is embedded")
        << "Doors/DOORWood_Creak Slow_JD_MYLIB.wav" << SoundKind::Wav << QString() << wav
        << u"NameData=Creak Slow|Category=DOORS-WOOD"_s;
    QTest::newRow("CatID in the wrong letter case")
        << "Doors/DOORwood_Creak Slow_JD_MYLIB.wav" << SoundKind::Wav << QString() << wav
        << u"NameData=DOORwood_Creak Slow_JD_MYLIB|Category=Doors|CatID=|FXName="_s;
    QTest::newRow("a name that merely looks like UCS")
        << "Doors/DOORWoods_Creak_JD_LIB.wav" << SoundKind::Wav << QString() << wav
        << u"NameData=DOORWoods_Creak_JD_LIB|Category=Doors|CatID="_s;
    QTest::newRow("iXML CATID over the file's name")
        << "Doors/DOORWood_Creak_JD_LIB.wav" << SoundKind::Wav
        << ixml(u"<USER><CATID>AIRBrst</CATID><USERCATEGORY>INT</USERCATEGORY></USER>"_s) << wav
        << u"NameData=Creak|Category=AIR-BURST|CatID=AIRBrst|UserCategory=INT|CreatorID=JD"_s;
    QTest::newRow("iXML CATID in the wrong case, ASWG category fields")
        << "Misc/g.wav" << SoundKind::Wav
        << ixml(
               u"<USER><CATID>airbrst</CATID></USER><ASWG><category>Wind</category>"
               "<subCategory>Gust</subCategory><creatorId>AB</creatorId></ASWG>"_s)
        << wav << u"NameData=g|Category=WIND-GUST|CatID=WINDGust|CreatorID=AB"_s;
    QTest::newRow("iXML in the encoding it declares")
        << "Misc/k.wav" << SoundKind::Wav
        << u"ixml-latin1:<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><BWFXML><USER><FXNAME>"
           "Fen\u00eatre</FXNAME></USER></BWFXML>"_s
        << wav << u"NameData=Fen\u00eatre|Category=Misc"_s;
    QTest::newRow("iXML that is not well-formed is ignored")
        << "Misc/h.wav" << SoundKind::Wav
        << u"ixml:<BWFXML><USER><CATID>DOORWood</CATID><FXNAME>X</USER>"_s << wav
        << u"NameData=h|Category=Misc|CatID=|FXName="_s;

    // The other containers and their tags.
    QTest::newRow("AIFF text chunks")
        << "Wind/i.aiff" << SoundKind::Aiff
        << u"aiff:NAME=Aiff name|aiff:AUTH=Aiff author|aiff:ANNO=Aiff note\nline 2"_s
        << QStringLiteral("^AIFF 44100 Hz 16-bit mono 0:00\\.10$")
        << u"NameData=Aiff name|Category=Wind|Description=Aiff note\nline 2|Artist=Aiff author|"
           "Container=AIFF"_s;
    QTest::newRow("AIFC is labelled AIFC")
        << "Wind/j.aifc" << SoundKind::Aifc << QString()
        << QStringLiteral("^AIFC 44100 Hz 32-bit float mono 0:00\\.10$")
        << u"NameData=j|Category=Wind|Container=AIFC|Codec=IEEE float|BitDepth=32"_s;
    QTest::newRow("FLAC: Vorbis DESCRIPTION over COMMENT")
        << "Music/k.flac" << SoundKind::Flac
        << u"xiph:TITLE=\u98a8 \u2014 \u0412\u0435\u0442\u0435\u0440|xiph:DESCRIPTION=Vorbis "
           "description|xiph:COMMENT=Vorbis comment|xiph:ARTIST=Vorbis artist|xiph:ALBUM=Vorbis "
           "album|xiph:GENRE=Foley|xiph:DATE=2021"_s
        << QStringLiteral("^FLAC 44100 Hz 16-bit mono 0:00\\.10$")
        << u"NameData=\u98a8 \u2014 \u0412\u0435\u0442\u0435\u0440|Category=Music|Description="
           "Vorbis description|Artist=Vorbis artist|Library=Vorbis album|Genre=Foley|"
           "OriginationDate=2021|Codec=FLAC"_s;
    QTest::newRow("Ogg FLAC")
        << "Music/l.oga" << SoundKind::OggFlac
        << u"xiph:TITLE=Ogg FLAC title|xiph:COMMENT=Ogg FLAC comment"_s
        << QStringLiteral("^Ogg FLAC 44100 Hz 16-bit mono 0:00\\.10$")
        << u"NameData=Ogg FLAC title|Category=Music|Description=Ogg FLAC comment|"
           "Container=Ogg FLAC|Frames=4410"_s;
    QTest::newRow("Ogg Vorbis")
        << "Music/m.ogg" << SoundKind::Vorbis << u"xiph:COMMENT=Vorbis comment"_s
        << lossy.arg(QStringLiteral("Ogg Vorbis")).arg(44100)
        << u"NameData=m|Category=Music|Description=Vorbis comment|Codec=Vorbis|BitDepth="_s;
    QTest::newRow("Opus")
        << "Music/n.opus" << SoundKind::Opus
        << u"xiph:TITLE=Opus title|xiph:DESCRIPTION=Opus description"_s
        << lossy.arg(QStringLiteral("Opus")).arg(48000)
        << u"NameData=Opus title|Category=Music|Description=Opus description|Codec=Opus"_s;
    QTest::newRow("MP3 with ID3v2")
        << "Music/o.mp3" << SoundKind::Mp3
        << u"id3:TITLE=MP3 title|id3:COMMENT=MP3 comment|id3:GENRE=Foley|id3:KEYWORDS=boom"_s
        << lossy.arg(QStringLiteral("MP3")).arg(44100)
        << u"NameData=MP3 title|Category=Music|Description=MP3 comment|Genre=Foley|"
           "Keywords=boom|Codec=MPEG Layer III"_s;
}

void TestSoundFacts::mapping() {
    QFETCH(QString, file);
    QFETCH(SoundKind, kind);
    QFETCH(QString, tags);
    QFETCH(QString, summary);
    QFETCH(QString, expected);

    // A folder per row: rows share file names.
    const QString path = dir_.filePath(QString::number(++rows_) + QLatin1Char('/') + file);
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    const QStringList tagList = tags.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    const QString written = test::writeTaggedSound(path, kind, tagList);
    QVERIFY2(written.isEmpty(), qPrintable(written));

    const QByteArray native = QFile::encodeName(path);
    const importer::SoundInfo info = importer::readSoundInfo(native);
    QCOMPARE(info.status, importer::SoundInfo::Status::Readable);
    QVERIFY2(QRegularExpression(summary).match(info.summary).hasMatch(), qPrintable(info.summary));
    const importer::EntryTexts texts = importer::entryTexts(native, info);
    const store::FactValues values = importer::factValues(info);
    QCOMPARE(values[Fact::FileSize], QString::number(QFileInfo(path).size()));
    QCOMPARE(values[Fact::Modified], QFileInfo(path).lastModified().toUTC().toString(Qt::ISODate));
    QCOMPARE(values[Fact::Title], info.title);
    QString description;
    for (const QString& pair : expected.split(QLatin1Char('|'))) {
        const QString key = pair.section(QLatin1Char('='), 0, 0);
        const QString value = pair.section(QLatin1Char('='), 1);
        if (key == QLatin1String("NameData")) {
            QCOMPARE(texts.name, value);
        } else if (key == QLatin1String("Category")) {
            QCOMPARE(texts.category, value);
        } else {
            if (key == QLatin1String("Description")) description = value;
            int index = 0;
            while (index < store::kFactCount && QLatin1String(store::factName(Fact(index))) != key)
                ++index;
            QVERIFY2(index < store::kFactCount, qPrintable(key));
            QCOMPARE(values[Fact(index)], value);
        }
    }
    QCOMPARE(values[Fact::Description], description);
    QCOMPARE(texts.description, description.isEmpty()
                                    ? info.summary
                                    : description + QStringLiteral(" | ") + info.summary);
}

void TestSoundFacts::mp3LengthCountedFromFrames() {
    const QString path = dir_.filePath(QStringLiteral("vbr.mp3"));
    const QString written =
        test::writeTaggedSound(path, SoundKind::Mp3WithoutXing, {u"id3:TITLE=VBR"_s}, 44100);
    QVERIFY2(written.isEmpty(), qPrintable(written));
    // What a decoder gives, frame by frame, and the length the first frame suggests.
    SF_INFO sf{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &sf);
    QVERIFY(file);
    std::vector<float> block(4096);
    sf_count_t decoded = 0;
    for (sf_count_t n; (n = sf_readf_float(file, block.data(), sf_count_t(block.size()))) > 0;)
        decoded += n;
    sf_close(file);
    QVERIFY2(sf.frames != decoded, "the fixture's first frame tells the right length already");

    const importer::SoundInfo info = importer::readSoundInfo(QFile::encodeName(path));
    QCOMPARE(info.technical.frames, qint64(decoded));
    QCOMPARE(info.title, QStringLiteral("VBR"));
    QVERIFY2(info.summary.endsWith(importer::formatDuration(decoded, 44100)),
             qPrintable(info.summary));
}

void TestSoundFacts::damagedFiles_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("readable");
    QTest::newRow("empty") << "empty.wav" << QByteArray() << false;
    QTest::newRow("ID3 tag claiming 256 MB")
        << "huge.mp3" << QByteArray("ID3\x04\0\0\x7f\x7f\x7f\x7f", 10) + QByteArray(999, 'x')
        << false;
    QTest::newRow("RIFF chunk claiming 4 GB")
        << "riff.wav" << QByteArray("RIFF\xff\xff\xff\xffWAVEfmt \xff\xff\xff\xff", 20) << false;
    QTest::newRow("Ogg FLAC that stops after its marker")
        << "cut.oga"
        << QByteArray("OggS\0\x02", 6) + QByteArray(20, '\0') +
               "\x01\x0d\x7f"
               "FLAC"
        << false;
    // Written whole, then cut inside the iXML chunk: the sound is there, the iXML is not.
    QTest::newRow("iXML cut off by the file's end") << "cut.wav" << QByteArray() << true;
}

void TestSoundFacts::damagedFiles() {
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, readable);
    const QString path = dir_.filePath(QString::number(++rows_) + QLatin1Char('-') + file);
    if (readable) {
        QCOMPARE(test::writeTaggedSound(path, SoundKind::Wav,
                                        {ixml(u"<USER><CATID>DOORWood</CATID></USER>"_s)}),
                 QString());
        QFile cut(path);
        QVERIFY(cut.resize(cut.size() - 20));
    } else {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(bytes);
    }
    const QByteArray native = QFile::encodeName(path);
    const importer::SoundInfo info = importer::readSoundInfo(native);
    QCOMPARE(info.status == importer::SoundInfo::Status::Readable, readable);
    QCOMPARE(info.ucs.catId, QString());
    QCOMPARE(importer::entryTexts(native, info).name, QFileInfo(path).completeBaseName());
    QString reason;
    QCOMPARE(player::SoundFile::open(native, reason) != nullptr, readable);
}

void TestSoundFacts::factsBesideTheEntries() {
    test::TempProgramFolder folder;
    // An entry added by hand before the import: it never has facts.
    folder.createCatalogue({{0, u"By hand"_s, u"/nowhere.wav"_s, u"Misc"_s, QString()}});
    const QString catalogue = folder.cataloguePath();
    const QString tree = dir_.filePath(u"facts"_s);
    const QString door = tree + u"/Doors/DOORWood_Creak Slow_JD_MYLIB.wav"_s;
    QVERIFY(QDir().mkpath(tree + u"/Doors"_s));
    QCOMPARE(test::writeTaggedSound(door, SoundKind::Wav,
                                    {u"bext:DESCRIPTION=Line one\nline\ttwo"_s,
                                     ixml(u"<USER><LIBRARY>Doors Vol. 1</LIBRARY></USER>"_s)}),
             QString());
    QCOMPARE(test::writeTaggedSound(tree + u"/Doors/knock.oga"_s, SoundKind::OggFlac,
                                    {u"xiph:TITLE=Knock"_s}),
             QString());
    // A catalogue without the facts table shows its entries as they are.
    QString out, err;
    QCOMPARE(cli(catalogue, {u"info"_s, u"1"_s}, &out, &err), 0);
    QCOMPARE(out,
             u"ID: 1\nNameData: By hand\nFilePath: /nowhere.wav\nCategory: Misc\n"
             "DescriptionData: \n"_s);
    QCOMPARE(cli(catalogue, {u"import"_s, tree}, &out, &err), 0);
    QCOMPARE(shell(catalogue, u"select count(*) from SoundFacts;"_s), u"2"_s);

    // Every text and fact of the entry, by path and by ID, as lines and as JSON.
    QCOMPARE(cli(catalogue, {u"info"_s, door}, &out, &err), 0);
    const QStringList lines = out.trimmed().split(QLatin1Char('\n'));
    for (const QString& line :
         {u"NameData: Creak Slow"_s, u"Category: DOORS-WOOD"_s,
          u"DescriptionData: Line one\\nline\\ttwo | WAV 44100 Hz 16-bit mono 0:00.10"_s,
          u"CatID: DOORWood"_s, u"FXName: Creak Slow"_s, u"CreatorID: JD"_s, u"SourceID: MYLIB"_s,
          u"Library: Doors Vol. 1"_s, u"SampleRate: 44100"_s, u"Frames: 4410"_s,
          u"Duration: 0:00.10"_s})
        QVERIFY2(lines.contains(line), qPrintable(line + u"\n\n"_s + out));
    const qint64 doorId = lines.first().section(u": "_s, 1).toLongLong();
    QCOMPARE(cli(catalogue, {u"info"_s, u"--json"_s, QString::number(doorId), u"1"_s}, &out), 0);
    const QJsonArray json = QJsonDocument::fromJson(out.toUtf8()).array();
    QCOMPARE(json.size(), 2);
    QCOMPARE(json[0][u"SampleRate"_s], QJsonValue(44100));
    QCOMPARE(json[0][u"DescriptionData"_s].toString(),
             u"Line one\nline\ttwo | WAV 44100 Hz 16-bit mono 0:00.10"_s);
    // The entry added by hand: its five columns, a NULL as null, and no facts.
    QCOMPARE(json[1].toObject().keys(), QStringList({u"Category"_s, u"DescriptionData"_s,
                                                     u"FilePath"_s, u"ID"_s, u"NameData"_s}));
    QVERIFY(json[1][u"DescriptionData"_s].isNull());
    QCOMPARE(cli(catalogue, {u"info"_s, u"999"_s}, &out, &err), 1);
    QVERIFY2(err.contains(u"999"_s), qPrintable(err));

    // Another program deletes the entry: its facts are no longer shown, and
    // the next import clears them.
    QCOMPARE(shell(catalogue,
                   u"delete from SoundData where ID = %1; select count(*) from "
                   "SoundData;"_s.arg(doorId)),
             u"2"_s);
    QCOMPARE(cli(catalogue, {u"info"_s, QString::number(doorId)}, &out, &err), 1);
    QCOMPARE(test::writeTaggedSound(tree + u"/Doors/later.wav"_s, SoundKind::Wav, {}), QString());
    // The door comes back under a new ID, beside the Ogg FLAC file and the new one.
    QCOMPARE(cli(catalogue, {u"import"_s, tree}, &out, &err), 0);
    QCOMPARE(shell(catalogue,
                   u"select count(*) from SoundFacts where ID = %1; select count(*) "
                   "from SoundFacts;"_s.arg(doorId)),
             u"0\n3"_s);
}

// Analysis results are written into a table made by the previous version
// (without their columns) and leave the import's facts as they were.
void TestSoundFacts::analysisBesideTheImportsFacts() {
    test::TempProgramFolder folder;
    const QString hostile = u"'; DROP TABLE SoundFacts; -- \"é\" 音 'x''"_s;
    folder.createCatalogue({{0, u"a"_s, u"/a.wav"_s, {}, {}}, {0, u"b"_s, u"/b.wav"_s, {}, {}}});
    store::Connection connection =
        store::openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READWRITE);
    QByteArray older = "CREATE TABLE SoundFacts (ID INTEGER PRIMARY KEY";
    for (int f = 0; f <= int(Fact::Modified); ++f)
        older += ", " + QByteArray(store::factName(Fact(f))) + " TEXT";
    connection.exec(older + ')');
    store::Statement title(connection,
                           "INSERT INTO SoundFacts (ID, Title, FileSize) VALUES (1, ?, 7)");
    title.bindText(1, hostile.toUtf8());
    title.step();
    // Read before any writer added the columns: they read as none.
    std::optional<store::FactValues> before = store::readFacts(connection, 1);
    QVERIFY(before);
    QCOMPARE((*before)[Fact::Title], hostile);
    QVERIFY((*before)[Fact::AudioHash].isEmpty());

    const QList<Fact> analysed{Fact::AudioHash,  Fact::Loudness,     Fact::LoudnessRange,
                               Fact::SamplePeak, Fact::AnalysedSize, Fact::AnalysedModified};
    store::FactValues values;
    values[Fact::AudioHash] = u"00ff"_s;
    values[Fact::Loudness] = u"-inf"_s;
    values[Fact::LoudnessRange] = u"7.5"_s;
    values[Fact::SamplePeak] = u"-6.0"_s;
    values[Fact::AnalysedSize] = u"7"_s;
    values[Fact::AnalysedModified] = u"1796742976690591165"_s;
    {
        store::Transaction transaction(connection);
        store::prepareFactsTable(connection);
        store::FactsUpdater updater(connection, analysed);
        for (const qint64 id : {1, 2, 3}) updater.write(id, values);  // 3 is no entry
        transaction.commit();
    }
    for (const qint64 id : {1, 2}) {
        const std::optional<store::FactValues> after = store::readFacts(connection, id);
        QVERIFY(after);
        for (const Fact fact : analysed) QCOMPARE((*after)[fact], values[fact]);
        QCOMPARE((*after)[Fact::Title], id == 1 ? hostile : QString());
        QCOMPARE((*after)[Fact::FileSize], id == 1 ? u"7"_s : QString());
    }
    QCOMPARE(shell(folder.cataloguePath(),
                   u"select count(*) from SoundFacts; select typeof(AnalysedModified) from "
                   "SoundFacts where ID = 2;"_s),
             u"2\ninteger"_s);
    // info shows the measures with their units, silence too; JSON keeps the stored text.
    QString out;
    QCOMPARE(cli(folder.cataloguePath(), {u"info"_s, u"1"_s}, &out), 0);
    for (const QString& line : {u"Title: "_s + hostile, u"Loudness: -inf LUFS"_s,
                                u"LoudnessRange: 7.5 LU"_s, u"SamplePeak: -6.0 dBFS"_s})
        QVERIFY2(out.split(u'\n').contains(line), qPrintable(out));
    QCOMPARE(cli(folder.cataloguePath(), {u"info"_s, u"--json"_s, u"2"_s}, &out), 0);
    QCOMPARE(QJsonDocument::fromJson(out.toUtf8())[0][u"Loudness"_s].toString(), u"-inf"_s);
}

// The player's reading path: the same sine as Ogg FLAC and as native FLAC
// decodes to the same samples, from the start and after a seek.
void TestSoundFacts::oggFlacPlays() {
    const QString oga = dir_.filePath(u"tone.oga"_s);
    const QString flac = dir_.filePath(u"tone.flac"_s);
    QCOMPARE(test::writeTaggedSound(oga, SoundKind::OggFlac, {}, 100000), QString());
    QCOMPARE(test::writeTaggedSound(flac, SoundKind::Flac, {}, 100000), QString());
    QString reason;
    auto ogg = player::SoundFile::open(QFile::encodeName(oga), reason);
    QVERIFY2(ogg, qPrintable(reason));
    auto native = player::SoundFile::open(QFile::encodeName(flac), reason);
    QVERIFY2(native, qPrintable(reason));
    QCOMPARE(ogg->frames(), 100000);
    QCOMPARE(ogg->sampleRate(), 44100);
    auto readAll = [](player::SoundFile& sound) {
        std::vector<float> samples(120000);
        samples.resize(size_t(sound.readFrames(samples.data(), 120000)));
        return samples;
    };
    const std::vector<float> expected = readAll(*native);
    QCOMPARE(expected.size(), size_t(100000));
    QVERIFY(readAll(*ogg) == expected);
    QVERIFY(ogg->seek(70000));
    std::vector<float> tail(100);
    QCOMPARE(ogg->readFrames(tail.data(), 100), 100);
    QVERIFY(std::equal(tail.begin(), tail.end(), expected.begin() + 70000));
}

void TestSoundFacts::listTooltip() {
    test::TempProgramFolder folder;
    folder.createCatalogue({{0, u"By hand"_s, u"/nowhere.wav"_s, u"Misc"_s, QString()}});
    const QString tree = dir_.filePath(u"tips"_s);
    QVERIFY(QDir().mkpath(tree));
    QCOMPARE(test::writeTaggedSound(tree + u"/DOORWood_Creak Slow_JD_MYLIB.wav"_s, SoundKind::Wav,
                                    {ixml(u"<USER><LIBRARY>Doors Vol. 1</LIBRARY></USER>"_s)}),
             QString());
    importer::ImportProgress progress;
    QVERIFY(!importer::importPaths(folder.cataloguePath(), {tree}, progress).failure);
    // An analysed entry with no other facts; its peak is silence.
    const QString hum = u"Hum 'q' 100%_ é 音"_s;
    folder.insertRows({{0, hum, u"/hum.wav"_s, {}, {}}});
    {
        store::Connection connection =
            store::openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READWRITE);
        store::Transaction transaction(connection);
        store::prepareFactsTable(connection);
        store::FactValues measured;
        measured[Fact::Loudness] = u"-23.4"_s;
        measured[Fact::LoudnessRange] = u"7.5"_s;
        measured[Fact::SamplePeak] = u"-inf"_s;
        store::FactsUpdater(connection, {Fact::Loudness, Fact::LoudnessRange, Fact::SamplePeak})
            .write(3, measured);
        transaction.commit();
    }

    auto form = test::makeForm(folder, std::make_shared<test::ScriptedDialogs>());
    window::ListView1* list = form->list();
    auto* tips = list->findChild<window::EntryFactsTips*>();
    QVERIFY(tips);
    QCOMPARE(list->count(), 3);
    QCOMPARE(tips->toolTipFor(2),
             hum + u"\nLoudness: -23.4 LUFS\nLoudness range: 7.5 LU\nSample peak: -inf dBFS"_s);
    QCOMPARE(tips->toolTipFor(0), u"By hand"_s);
    const QString door =
        u"Creak Slow\nUCS category: DOORS-WOOD\nCreator: JD\nLibrary: Doors Vol. 1\n"
        "Duration: 0:00.10\nFormat: WAV 44100 Hz 16-bit mono"_s;
    QCOMPARE(tips->toolTipFor(1), door);
    // Hovering the name shows it; another column keeps its own text.
    const QRect name = list->visualRect(list->rows()->index(1, 1));
    QHelpEvent hover(QEvent::ToolTip, name.center(), list->viewport()->mapToGlobal(name.center()));
    QApplication::sendEvent(list->viewport(), &hover);
    QTRY_COMPARE(QToolTip::text(), door);
}

// The facts follow the five columns; import-csv reads the five back and the
// plain export of both catalogues is the same to the byte.
void TestSoundFacts::exportWithFacts() {
    test::TempProgramFolder folder;
    folder.createCatalogue({{0, u"Quote \" and, comma"_s, u"/x.wav"_s, QString(), u"a\tb"_s}});
    const QString tree = dir_.filePath(u"export"_s);
    QVERIFY(QDir().mkpath(tree));
    QCOMPARE(test::writeTaggedSound(tree + u"/GUNAuto-EXT_UZI_TN_NONE.wav"_s, SoundKind::Wav,
                                    {u"info:ICMT=Say \"hi\", twice"_s}),
             QString());
    const QString catalogue = folder.cataloguePath();
    QCOMPARE(cli(catalogue, {u"import"_s, tree}), 0);
    const QString withFacts = dir_.filePath(u"facts.csv"_s);
    QCOMPARE(cli(catalogue, {u"export"_s, u"--facts"_s, withFacts}), 0);
    QFile csv(withFacts);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    QByteArray header = "ID,NameData,FilePath,Category,DescriptionData";
    for (int f = 0; f < store::kFactCount; ++f)
        header += ',' + QByteArray(store::factName(Fact(f)));
    QCOMPARE(lines[0], header + '\r');
    QVERIFY2(lines[1].startsWith("1,\"Quote \"\" and, comma\",\"/x.wav\",,\"a"), lines[1]);
    QVERIFY2(lines[1].endsWith(QByteArray(store::kFactCount, ',') + '\r'), lines[1]);
    QVERIFY2(
        lines[2].contains(",\"Say \"\"hi\"\", twice\",,,,,,,,,\"GUNAuto\",\"GUNS-AUTOMATIC\","
                          "\"EXT\",,\"UZI\",\"TN\",\"NONE\",,\"WAV\",\"PCM\",44100,16,1,4410,"),
        lines[2]);

    test::TempProgramFolder copy;
    copy.createCatalogue();
    QCOMPARE(cli(copy.cataloguePath(), {u"import-csv"_s, withFacts}), 0);
    const QString before = dir_.filePath(u"before.csv"_s), after = dir_.filePath(u"after.csv"_s);
    QCOMPARE(cli(catalogue, {u"export"_s, before}), 0);
    QCOMPARE(cli(copy.cataloguePath(), {u"export"_s, after}), 0);
    QFile a(before), b(after);
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    QCOMPARE(b.readAll(), a.readAll());
}

QTEST_MAIN(TestSoundFacts)
#include "tst_soundfacts.moc"
