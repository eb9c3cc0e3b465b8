#include "XMLParser/DeviceProfile.h"

std::string FirmwareDescription::Parameter(std::string_view key) const {
  const auto it = parameters.find(std::string(key));
  return it == parameters.end() ? std::string() : it->second;
}

KeywordList* DeviceProfile::FindKeywordList(std::string_view keyword) {
  return ::FindKeywordList(keywordLists, keyword);
}

const KeywordList* DeviceProfile::FindKeywordList(std::string_view keyword) const {
  return ::FindKeywordList(keywordLists, keyword);
}

std::size_t DeviceProfile::EntryCount(std::string_view keyword) const {
  const KeywordList* list = FindKeywordList(keyword);
  return list == nullptr ? 0 : list->Count();
}

void DeviceProfile::ResetCursors() { ::ResetCursors(keywordLists); }
