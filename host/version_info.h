#pragma once
// The ten standard texts of an executable's version resource.

#include <string>

#include "platform/files.h"

namespace sfh56 {

struct TVersionInfo {
  std::string CompanyName;
  std::string FileDescription;
  std::string FileVersion;
  std::string InternalName;
  std::string LegalCopyright;
  std::string LegalTradeMarks;
  std::string OriginalFilename;
  std::string ProductName;
  std::string ProductVersion;
  std::string Comments;
};

// The block of US English texts in code page 1252; no other block is consulted.
inline constexpr char kVersionStringBlock[] = "StringFileInfo\\040904E4\\";

// Reads the version texts of the file at path. A file without a version resource, and a
// text that is missing, give empty texts.
TVersionInfo ReadVersionInfo(platform::Files& files, const std::string& path);

}  // namespace sfh56
