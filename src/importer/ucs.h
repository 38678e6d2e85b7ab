#pragma once

#include <QString>
#include <QStringView>

namespace kalvero::importer {

// The Universal Category System: a list of CatIDs, each naming a category and
// a subcategory, and a way of naming sound files that starts with one.

// "DOORS-WOOD" for "DOORWood"; empty when the text is not a CatID of the
// list, letter case counted.
QString ucsCategoryFull(QStringView catId);

// The CatID of a category and subcategory ("DOORS", "WOOD"), letter case
// ignored; empty when the list has no such pair.
QString ucsCatIdFor(QStringView category, QStringView subCategory);

// The blocks of a UCS file name:
// CatID(-UserCategory)_(VendorCategory-)FXName_CreatorID_SourceID(_UserData).
struct UcsName {
    QString catId;
    QString userCategory;
    QString vendorCategory;
    // The whole second block, a vendor category included.
    QString fxName;
    QString creatorId;
    QString sourceId;
    QString userData;
};

// Reads a file name without its extension. A name is a UCS name when its
// first block, up to the first '_' or '-', is a CatID of the list in its exact
// letter case; otherwise nothing is returned.
bool parseUcsName(QStringView baseName, UcsName& out);

}  // namespace kalvero::importer
