// The virtual printer's disk: a folder that jobs see as %disk0%, whose
// Resource/ folder also shows Ghostscript's own resources.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace korrin::vprinter {

// Ghostscript's Resource folder, found from its version. Throws
// std::runtime_error when there is none.
std::string ghostscriptResources(const std::string& program);

// Fills the disk's Resource folder: the categories jobs write (CMap, CIDFont,
// Font) are real folders holding links to Ghostscript's resources, every
// other category is a link to Ghostscript's folder.
void prepareResources(const std::filesystem::path& mine, const std::filesystem::path& ghostscripts);

// Bytes in regular files on the disk; the links do not count.
std::uintmax_t diskUsed(const std::filesystem::path& disk);

} // namespace korrin::vprinter
