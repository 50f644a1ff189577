#include "host/version_info.h"

namespace sfh56 {

TVersionInfo ReadVersionInfo(platform::Files& files, const std::string& path) {
  TVersionInfo info;
  const std::unique_ptr<platform::VersionBlock> block = files.LoadVersionBlock(path);
  if (block == nullptr) return info;
  const struct {
    const char* name;
    std::string TVersionInfo::*field;
  } kFields[] = {
      {"CompanyName", &TVersionInfo::CompanyName},
      {"FileDescription", &TVersionInfo::FileDescription},
      {"FileVersion", &TVersionInfo::FileVersion},
      {"InternalName", &TVersionInfo::InternalName},
      {"LegalCopyright", &TVersionInfo::LegalCopyright},
      {"LegalTradeMarks", &TVersionInfo::LegalTradeMarks},
      {"OriginalFilename", &TVersionInfo::OriginalFilename},
      {"ProductName", &TVersionInfo::ProductName},
      {"ProductVersion", &TVersionInfo::ProductVersion},
      {"Comments", &TVersionInfo::Comments},
  };
  for (const auto& field : kFields) {
    if (auto text = block->QueryString(std::string(kVersionStringBlock) + field.name)) {
      info.*field.field = *text;
    }
  }
  return info;
}

}  // namespace sfh56
