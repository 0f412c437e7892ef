#include "app/phone/SavedGroupsFile.h"

#include "app/ContentModel.h"
#include "platform/foundation/String.h"

namespace app {

std::string SavedGroupsFile::path() { return documentsPath(kFileName); }

SavedGroupsFile::Loaded SavedGroupsFile::read() {
    DocumentsLoad load = loadDocumentsArray(kFileName);
    Loaded out;
    out.groups = load.rows ? load.rows : ns::MutableArray::make();
    out.movedAsideTo = load.movedAsideTo;
    out.blocked = load.blocked;
    return out;
}

bool SavedGroupsFile::write(const ns::Array& groups, ns::Ref<ns::Error>* error) {
    return writeDocumentsArray(groups, kFileName, error);
}

ns::Ref<ns::Dictionary> SavedGroupsFile::makeGroup(const std::string& typedName, const ns::Array& cards) {
    auto name = ns::String::make(typedName);
    std::string trimmed(name->stringByTrimmingWhitespace()->utf8());
    auto record = ns::MutableDictionary::make(2);
    record->setObject(ns::String::make(trimmed.empty() ? std::string(kDefaultName) : typedName), kNameKey);
    auto copy = ns::MutableArray::make(cards.count());
    copy->addObjectsFromArray(cards);
    record->setObject(copy, kCardsKey);
    return record;
}

std::string SavedGroupsFile::groupName(const ns::Dictionary* group) { return rowString(group, kNameKey); }

ns::Array* SavedGroupsFile::groupCards(const ns::Dictionary* group) {
    return group ? group->objectForKeyAs<ns::Array>(kCardsKey) : nullptr;
}

}  // namespace app
