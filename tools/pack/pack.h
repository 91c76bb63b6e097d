#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Building and checking the carried firmware release: the two program images and the data-flash
// image with its geometry block, file directory, file headers and the device's text table.
namespace dravion::pack {

using Bytes = std::vector<uint8_t>;
// Problems found, one readable sentence each; empty when everything holds.
using Problems = std::vector<std::string>;

inline constexpr size_t kProgramImageSize = 57344;
inline constexpr size_t kSectorSize = 4096;
inline constexpr size_t kDataFlashImageSize = 311296;
inline constexpr size_t kDataFlashSectors = 2048;
inline constexpr uint32_t kDirectorySector = 1;
inline constexpr uint32_t kFirstFileSector = 9;
inline constexpr uint32_t kDirectoryMarker = 0xABCDEF12;
inline constexpr uint32_t kDirectorySecondWord = 0x007E8112;
inline constexpr size_t kFileHeaderSize = 64;
inline constexpr size_t kFileNameSize = 32;
inline constexpr uint8_t kFileDate[6] = {0x02, 0x2C, 0x16, 0x04, 0x08, 0xE6};
inline constexpr uint32_t kStackPointer = 0x20002000;
inline constexpr uint32_t kResetAddressA = 0x0800B569;
inline constexpr uint32_t kResetAddressB = 0x0800B521;
inline constexpr char kTextTableName[] = "K740_UPRN.bin";
inline constexpr size_t kTextCount = 427;
inline constexpr size_t kTextTableHeaderSize = 16;

// Program image A or B ('A' or 'B'): its length and vector table.
Problems CheckProgramImage(const Bytes& image, char which);
// A placeholder program image: the vector table, then deterministic filler.
Bytes PlaceholderProgramImage(char which);

// One text of the device's screen markup (Windows-1251 bytes, no terminator): printable
// characters, balanced command groups of known tokens, "*" only after an alignment, a line break
// "#" followed by a group, and the accent marks "^" and "$" in their forms.
Problems CheckScreenText(std::string_view text);
// The text table: header, count, offsets and lengths without gaps, zero terminators, and every
// text by CheckScreenText.
Problems CheckTextTable(const Bytes& table);
// The table of the given texts (Windows-1251, no terminators).
Bytes BuildTextTable(const std::vector<std::string>& texts);
// The texts of a UTF-8 source, one a line; characters outside Windows-1251 are problems.
std::vector<std::string> ReadTextSource(const std::string& utf8, Problems& problems);

// A file of the data-flash image.
struct FilePart {
  uint16_t slot = 0;
  uint16_t number = 0;
  std::string name;
  Bytes data;
};
// The image with the files laid one after another from the first file sector, in the order
// given. Parts that cannot be placed (slot, name, room) are reported and the image left empty.
Bytes BuildDataFlashImage(const std::vector<FilePart>& files, Problems& problems);
// Every layout rule of the image, and the text table file's rules.
Problems CheckDataFlashImage(const Bytes& image);

// Reads the layout list of a data-flash image's parts. Each line (blanks and "#" comments aside)
// is "<slot> <number> <name> <source>", the source one of text:<file> (UTF-8 texts, one a line,
// made into a text table), file:<file> (bytes as they are), hex:<digits> (the bytes written out)
// or filler:<length> (deterministic placeholder bytes). Files are relative to the list's folder.
std::vector<FilePart> ReadLayout(const std::string& path, Problems& problems);

// Deterministic placeholder bytes.
Bytes Filler(size_t length, uint32_t seed);

// C++ source defining the images as constant arrays for the manager's core.
std::string EmbedSource(const Bytes& programA, const Bytes& programB, const Bytes& dataFlash);

bool ReadFile(const std::string& path, Bytes& bytes);
bool WriteFile(const std::string& path, const Bytes& bytes);

}  // namespace dravion::pack
