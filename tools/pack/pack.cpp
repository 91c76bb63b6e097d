#include "pack.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "services/text_encoding.h"

namespace dravion::pack {
namespace {

uint32_t Word32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}
uint16_t Word16(const Bytes& b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
uint16_t Word16Be(const Bytes& b, size_t at) {
  return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put16Be(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}

std::string Hex(uint32_t v, int digits = 8) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, v);
  return text;
}

bool AllOf(const Bytes& b, size_t from, size_t to, uint8_t value) {
  return std::all_of(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to),
                     [value](uint8_t x) { return x == value; });
}

size_t SectorsFor(size_t dataLength) {
  return (kFileHeaderSize + dataLength + kSectorSize - 1) / kSectorSize;
}

bool ValidToken(const std::string& token) {
  static const std::regex kForms(
      "[XYxy]-?[0-9]+|XS|XL|YS|YL|X%[0-9]|RF[0-9]+:([0-9]+|%[0-9])|RA|RU|"
      "Rp[0-9]+\\.[0-9]+:([PS])[0-9]+:\\2[0-9]+:[0-9]+:[0-9]+|C[W0GYRBVbCg]|B[0EbGRWBg]|"
      "F[0-9]+|T[01]|A[LRCS]|pT?[0-9]+\\.([0-9]+|%[0-9])|%[dusv]|%[0-9]");
  return std::regex_match(token, kForms);
}

std::string Shown(std::string_view text) {
  std::string shown(text.substr(0, 60));
  if (text.size() > 60) shown += "...";
  return "\"" + Cp1251ToUtf8(shown) + "\"";
}

}  // namespace

Problems CheckProgramImage(const Bytes& image, char which) {
  Problems problems;
  const std::string name = std::string("program image ") + which;
  if (image.size() != kProgramImageSize) {
    problems.push_back(name + " is " + std::to_string(image.size()) + " bytes long, not " +
                       std::to_string(kProgramImageSize));
    return problems;
  }
  if (Word32(image, 0) != kStackPointer)
    problems.push_back(name + ": the initial stack pointer is " + Hex(Word32(image, 0)) + ", not " +
                       Hex(kStackPointer));
  const uint32_t reset = which == 'A' ? kResetAddressA : kResetAddressB;
  if (Word32(image, 4) != reset)
    problems.push_back(name + ": the reset address is " + Hex(Word32(image, 4)) + ", not " +
                       Hex(reset));
  return problems;
}

Bytes Filler(size_t length, uint32_t seed) {
  Bytes bytes(length);
  uint32_t state = seed * 2654435761u + 0x9E3779B9u;
  for (auto& b : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    b = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

Bytes PlaceholderProgramImage(char which) {
  Bytes image = Filler(kProgramImageSize, static_cast<uint32_t>(which));
  Put32(image, 0, kStackPointer);
  Put32(image, 4, which == 'A' ? kResetAddressA : kResetAddressB);
  return image;
}

Problems CheckScreenText(std::string_view text) {
  Problems problems;
  const auto fail = [&](const std::string& what) {
    problems.push_back(what + " in " + Shown(text));
  };
  bool inGroup = false;
  std::string token;
  std::vector<std::string> tokens;
  const auto endToken = [&] {
    tokens.push_back(token);
    token.clear();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      fail("control byte " + Hex(c, 2));
      continue;
    }
    if (inGroup) {
      if (c == '{') {
        fail("a group opens inside a group");
      } else if (c == '|') {
        endToken();
      } else if (c == '}') {
        endToken();
        for (size_t k = 0; k < tokens.size(); ++k) {
          const std::string& t = tokens[k];
          if (t == "*") {
            if (k + 1 != tokens.size()) fail("\"*\" not last in its group");
            if (k == 0 || tokens[k - 1].size() != 2 || tokens[k - 1][0] != 'A' ||
                !ValidToken(tokens[k - 1]))
              fail("\"*\" not after an alignment");
          } else if (!ValidToken(t)) {
            fail("unknown token \"" + Cp1251ToUtf8(t) + "\"");
          }
        }
        tokens.clear();
        inGroup = false;
      } else {
        token += static_cast<char>(c);
      }
      continue;
    }
    if (c == '{') {
      inGroup = true;
    } else if (c == '}') {
      fail("a group closes that was not opened");
    } else if (c == '#') {
      if (i + 1 >= text.size() || text[i + 1] != '{') fail("a line break \"#\" without its group");
    } else if (c == '^') {
      if (i + 1 >= text.size() ||
          std::string_view(":;'").find(text[i + 1]) == std::string_view::npos)
        fail("an accent \"^\" without its mark");
      else
        ++i;
    } else if (c == '$') {
      if (i + 1 >= text.size() || (text[i + 1] != 'l' && text[i + 1] != 'L'))
        fail("a \"$\" not before l or L");
    }
  }
  if (inGroup) fail("a group is not closed");
  return problems;
}

Problems CheckTextTable(const Bytes& table) {
  Problems problems;
  const std::string where = std::string("text table ") + kTextTableName + ": ";
  if (table.size() < kTextTableHeaderSize) {
    problems.push_back(where + "only " + std::to_string(table.size()) + " bytes long");
    return problems;
  }
  if (table[0] != 0x1A || table[1] != 0x38)
    problems.push_back(where + "does not begin with the bytes 1A 38");
  const size_t count = Word16Be(table, 2);
  if (count != kTextCount)
    problems.push_back(where + "holds " + std::to_string(count) + " texts, the device expects " +
                       std::to_string(kTextCount));
  if (!AllOf(table, 4, kTextTableHeaderSize, 0))
    problems.push_back(where + "bytes 4-15 are not zero");
  const size_t textsStart = kTextTableHeaderSize + 4 * count;
  if (textsStart > table.size()) {
    problems.push_back(where + "the index of " + std::to_string(count) +
                       " texts runs past the end");
    return problems;
  }
  size_t expected = textsStart;
  for (size_t n = 0; n < count; ++n) {
    const size_t entry = kTextTableHeaderSize + 4 * n;
    const size_t offset = Word16Be(table, entry);
    const size_t length = Word16Be(table, entry + 2);
    const std::string text = "text " + std::to_string(n) + ": ";
    if (offset != expected) {
      problems.push_back(where + text + "starts at " + std::to_string(offset) + ", not at " +
                         std::to_string(expected) + " right after the one before");
      return problems;
    }
    if (length == 0 || offset + length > table.size()) {
      problems.push_back(where + text + "length " + std::to_string(length) +
                         " does not fit the table");
      return problems;
    }
    const std::string_view body(reinterpret_cast<const char*>(table.data()) + offset, length - 1);
    if (table[offset + length - 1] != 0)
      problems.push_back(where + text + "has no zero terminator");
    if (body.find('\0') != std::string_view::npos)
      problems.push_back(where + text + "has a zero byte before its end");
    for (const auto& p : CheckScreenText(body))
      problems.push_back(where + text + p);
    expected = offset + length;
  }
  if (expected != table.size())
    problems.push_back(where + std::to_string(table.size() - expected) +
                       " bytes follow the last text");
  return problems;
}

Bytes BuildTextTable(const std::vector<std::string>& texts) {
  size_t size = kTextTableHeaderSize + 4 * texts.size();
  for (const auto& t : texts)
    size += t.size() + 1;
  Bytes table(size, 0);
  table[0] = 0x1A;
  table[1] = 0x38;
  Put16Be(table, 2, static_cast<uint32_t>(texts.size()));
  size_t at = kTextTableHeaderSize + 4 * texts.size();
  for (size_t n = 0; n < texts.size(); ++n) {
    Put16Be(table, kTextTableHeaderSize + 4 * n, static_cast<uint32_t>(at));
    Put16Be(table, kTextTableHeaderSize + 4 * n + 2, static_cast<uint32_t>(texts[n].size() + 1));
    std::copy(texts[n].begin(), texts[n].end(), table.begin() + static_cast<long>(at));
    at += texts[n].size() + 1;
  }
  return table;
}

std::vector<std::string> ReadTextSource(const std::string& utf8, Problems& problems) {
  std::vector<std::string> texts;
  size_t start = 0;
  int line = 1;
  while (start < utf8.size()) {
    size_t end = utf8.find('\n', start);
    if (end == std::string::npos) end = utf8.size();
    std::string text = utf8.substr(start, end - start);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    std::string bytes = Utf8ToCp1251(text);
    if (Cp1251ToUtf8(bytes) != text)
      problems.push_back("line " + std::to_string(line) +
                         ": a character that Windows-1251 cannot hold");
    texts.push_back(std::move(bytes));
    start = end + 1;
    ++line;
  }
  return texts;
}

Bytes BuildDataFlashImage(const std::vector<FilePart>& files, Problems& problems) {
  Bytes image(kDataFlashImageSize, 0xFF);
  // Geometry block.
  std::fill(image.begin(), image.begin() + 0x100, 0);
  const uint32_t geometry[6] = {kSectorSize,       kSectorSize,
                                kDataFlashSectors, kDirectorySector,
                                kFirstFileSector,  kDataFlashImageSize / kSectorSize};
  for (int i = 0; i < 6; ++i)
    Put32(image, 4 * i, geometry[i]);
  // Directory header.
  const size_t directory = kDirectorySector * kSectorSize;
  Put32(image, directory, kDirectoryMarker);
  Put32(image, directory + 4, kDirectorySecondWord);
  std::fill(image.begin() + directory + 8, image.begin() + directory + 16, 0);

  size_t sector = kFirstFileSector;
  std::map<int, std::string> slots;
  for (const auto& file : files) {
    const std::string where = "file \"" + file.name + "\": ";
    if (file.slot < 1 || file.slot > 255) {
      problems.push_back(where + "slot " + std::to_string(file.slot) + " is not 1-255");
      continue;
    }
    if (!slots.emplace(file.slot, file.name).second) {
      problems.push_back(where + "slot " + std::to_string(file.slot) + " is taken by \"" +
                         slots[file.slot] + "\"");
      continue;
    }
    if (file.name.empty() || file.name.size() > kFileNameSize) {
      problems.push_back(where + "a name must be 1-32 characters");
      continue;
    }
    const size_t sectors = SectorsFor(file.data.size());
    if ((sector + sectors) * kSectorSize > kDataFlashImageSize) {
      problems.push_back(where + "does not fit: it would end in sector " +
                         std::to_string(sector + sectors - 1) + ", the image ends in sector " +
                         std::to_string(kDataFlashImageSize / kSectorSize - 1));
      return {};
    }
    const size_t entry = directory + 16 * file.slot;
    std::fill(image.begin() + entry, image.begin() + entry + 16, 0);
    Put16(image, entry, file.number);
    Put16(image, entry + 2, static_cast<uint32_t>(sector));
    Put16(image, entry + 4, static_cast<uint32_t>(sectors));
    Put32(image, entry + 6, static_cast<uint32_t>(file.data.size()));
    const size_t at = sector * kSectorSize;
    std::fill(image.begin() + at, image.begin() + at + kFileHeaderSize, 0);
    Put16(image, at + 2, file.slot);
    std::copy(std::begin(kFileDate), std::end(kFileDate), image.begin() + at + 26);
    std::copy(file.name.begin(), file.name.end(), image.begin() + at + 32);
    std::copy(file.data.begin(), file.data.end(), image.begin() + at + kFileHeaderSize);
    sector += sectors;
  }
  if (sector * kSectorSize != kDataFlashImageSize)
    problems.push_back("the files end in sector " + std::to_string(sector - 1) +
                       ", the image needs them to end in sector " +
                       std::to_string(kDataFlashImageSize / kSectorSize - 1));
  if (!problems.empty()) return {};
  return image;
}

Problems CheckDataFlashImage(const Bytes& image) {
  Problems problems;
  if (image.size() != kDataFlashImageSize) {
    problems.push_back("the data-flash image is " + std::to_string(image.size()) +
                       " bytes long, not " + std::to_string(kDataFlashImageSize));
    return problems;
  }
  const uint32_t expected[6] = {kSectorSize,       kSectorSize,
                                kDataFlashSectors, kDirectorySector,
                                kFirstFileSector,  kDataFlashImageSize / kSectorSize};
  const char* meaning[6] = {"sector size",      "second size",       "sector count",
                            "directory sector", "first file sector", "end sector"};
  for (int i = 0; i < 6; ++i)
    if (Word32(image, 4 * i) != expected[i])
      problems.push_back("geometry block: the " + std::string(meaning[i]) + " is " +
                         std::to_string(Word32(image, 4 * i)) + ", not " +
                         std::to_string(expected[i]));
  if (!AllOf(image, 0x18, 0x100, 0))
    problems.push_back("geometry block: bytes 0x18-0xFF are not zero");
  if (!AllOf(image, 0x100, kSectorSize, 0xFF))
    problems.push_back("geometry block: bytes 0x100-0xFFF are not 0xFF");
  const size_t directory = kDirectorySector * kSectorSize;
  if (Word32(image, directory) != kDirectoryMarker)
    problems.push_back("directory: the marker is " + Hex(Word32(image, directory)) + ", not " +
                       Hex(kDirectoryMarker));
  if (!AllOf(image, directory + 8, directory + 16, 0))
    problems.push_back("directory: header bytes 8-15 are not zero");
  if (!AllOf(image, 2 * kSectorSize, kFirstFileSector * kSectorSize, 0xFF))
    problems.push_back("sectors 2-8 are not erased (0xFF)");

  struct Placed {
    size_t first, count, slot;
    std::string name;
  };
  std::vector<Placed> placed;
  const size_t endSector = kDataFlashImageSize / kSectorSize;
  for (size_t slot = 1; slot < 256; ++slot) {
    const size_t entry = directory + 16 * slot;
    if (AllOf(image, entry, entry + 16, 0xFF)) continue;
    const std::string where = "directory slot " + std::to_string(slot) + ": ";
    const size_t first = Word16(image, entry + 2);
    const size_t count = Word16(image, entry + 4);
    const size_t length = Word32(image, entry + 6);
    if (!AllOf(image, entry + 10, entry + 16, 0))
      problems.push_back(where + "bytes 10-15 are not zero");
    if (count != SectorsFor(length))
      problems.push_back(where + std::to_string(count) + " sectors for " + std::to_string(length) +
                         " bytes of data, not " + std::to_string(SectorsFor(length)));
    if (first < kFirstFileSector || count == 0 || first + count > endSector) {
      problems.push_back(where + "sectors " + std::to_string(first) + "-" +
                         std::to_string(first + count - 1) + " lie outside the file area " +
                         std::to_string(kFirstFileSector) + "-" + std::to_string(endSector - 1));
      continue;
    }
    const size_t at = first * kSectorSize;
    std::string name(reinterpret_cast<const char*>(image.data()) + at + 32, kFileNameSize);
    name = name.substr(0, name.find('\0'));
    placed.push_back({first, count, slot, name});
    const std::string file = "file \"" + name + "\" (slot " + std::to_string(slot) + "): ";
    if (Word16(image, at) != 0) problems.push_back(file + "header bytes 0-1 are not zero");
    if (Word16(image, at + 2) != slot)
      problems.push_back(file + "the header names slot " + std::to_string(Word16(image, at + 2)));
    if (!AllOf(image, at + 4, at + 26, 0))
      problems.push_back(file + "header bytes 4-25 are not zero");
    if (!std::equal(std::begin(kFileDate), std::end(kFileDate), image.begin() + at + 26))
      problems.push_back(file + "the header's date bytes are not 02 2C 16 04 08 E6");
    if (name.empty() ||
        !std::all_of(name.begin(), name.end(), [](char c) { return c > 0x20 && c < 0x7F; }) ||
        !AllOf(image, at + 32 + name.size(), at + kFileHeaderSize, 0))
      problems.push_back(file + "the name is not ASCII padded with zero bytes");
    if (count == SectorsFor(length) &&
        !AllOf(image, at + kFileHeaderSize + length, (first + count) * kSectorSize, 0xFF))
      problems.push_back(file + "the rest of its last sector is not 0xFF");
    if (name == kTextTableName && at + kFileHeaderSize + length <= image.size()) {
      const Bytes table(image.begin() + static_cast<long>(at + kFileHeaderSize),
                        image.begin() + static_cast<long>(at + kFileHeaderSize + length));
      for (const auto& p : CheckTextTable(table))
        problems.push_back(p);
    }
  }
  std::sort(placed.begin(), placed.end(),
            [](const Placed& a, const Placed& b) { return a.first < b.first; });
  size_t next = kFirstFileSector;
  const Placed* before = nullptr;
  for (const auto& p : placed) {
    const auto describe = [](const Placed& f) {
      return "\"" + f.name + "\" (sectors " + std::to_string(f.first) + "-" +
             std::to_string(f.first + f.count - 1) + ")";
    };
    if (p.first < next && before)
      problems.push_back("files overlap: " + describe(*before) + " and " + describe(p));
    else if (p.first > next)
      problems.push_back("sectors " + std::to_string(next) + "-" + std::to_string(p.first - 1) +
                         " belong to no file");
    if (p.first + p.count > next) {
      next = p.first + p.count;
      before = &p;
    }
  }
  if (next < endSector)
    problems.push_back("sectors " + std::to_string(next) + "-" + std::to_string(endSector - 1) +
                       " belong to no file");
  if (std::none_of(placed.begin(), placed.end(),
                   [](const Placed& p) { return p.name == kTextTableName; }))
    problems.push_back(std::string("the text table \"") + kTextTableName + "\" is missing");
  return problems;
}

bool ReadFile(const std::string& path, Bytes& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  const std::string aside = path + ".part";
  {
    std::ofstream out(aside, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    if (!out.flush()) return false;
  }
  return std::rename(aside.c_str(), path.c_str()) == 0;
}

std::vector<FilePart> ReadLayout(const std::string& path, Problems& problems) {
  std::vector<FilePart> parts;
  std::ifstream in(path);
  if (!in) {
    problems.push_back(path + ": cannot be read");
    return parts;
  }
  const size_t slash = path.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    const std::string where = path + ":" + std::to_string(number) + ": ";
    std::istringstream fields(line);
    long slot = -1, fileNumber = -1;
    FilePart part;
    std::string source;
    if (!(fields >> slot >> fileNumber >> part.name >> source) || slot < 1 || slot > 255 ||
        fileNumber < 0 || fileNumber > 0xFFFF) {
      problems.push_back(where + "expected \"<slot 1-255> <number> <name> <source>\"");
      continue;
    }
    part.slot = static_cast<uint16_t>(slot);
    part.number = static_cast<uint16_t>(fileNumber);
    const size_t colon = source.find(':');
    const std::string kind = source.substr(0, colon);
    const std::string value = colon == std::string::npos ? "" : source.substr(colon + 1);
    if (kind == "text" || kind == "file") {
      Bytes bytes;
      if (!ReadFile(folder + value, bytes)) {
        problems.push_back(where + folder + value + " cannot be read");
        continue;
      }
      if (kind == "file") {
        part.data = std::move(bytes);
      } else {
        Problems textProblems;
        const auto texts = ReadTextSource(std::string(bytes.begin(), bytes.end()), textProblems);
        for (const auto& p : textProblems)
          problems.push_back(folder + value + ": " + p);
        // Reported by line of the source, where they are mended.
        for (size_t n = 0; n < texts.size(); ++n)
          for (const auto& p : CheckScreenText(texts[n]))
            problems.push_back(folder + value + ":" + std::to_string(n + 1) + ": " + p);
        if (texts.size() != kTextCount)
          problems.push_back(folder + value + ": " + std::to_string(texts.size()) +
                             " texts, the device expects " + std::to_string(kTextCount));
        part.data = BuildTextTable(texts);
      }
    } else if (kind == "hex") {
      if (value.size() % 2 != 0 ||
          value.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        problems.push_back(where + "hex: needs pairs of hexadecimal digits");
        continue;
      }
      for (size_t i = 0; i < value.size(); i += 2)
        part.data.push_back(static_cast<uint8_t>(std::stoul(value.substr(i, 2), nullptr, 16)));
    } else if (kind == "filler" && !value.empty() &&
               value.find_first_not_of("0123456789") == std::string::npos && value.size() < 8) {
      part.data = Filler(std::stoul(value), part.slot);
    } else {
      problems.push_back(where + "unknown source \"" + source + "\"");
      continue;
    }
    parts.push_back(std::move(part));
  }
  return parts;
}

std::string EmbedSource(const Bytes& programA, const Bytes& programB, const Bytes& dataFlash) {
  std::string out =
      "// Generated by dravion-pack from firmware/release at build time. Do not edit.\n"
      "#include \"firmware/firmware_images.h\"\n\nnamespace dravion::firmware_images {\n";
  const auto array = [&out](const char* name, const Bytes& bytes) {
    out += "\nalignas(4) const unsigned char " + std::string(name) + "[" +
           std::to_string(bytes.size()) + "] = {\n";
    for (size_t i = 0; i < bytes.size(); ++i) {
      out += std::to_string(bytes[i]);
      out += (i + 1) % 24 == 0 ? ",\n" : ",";
    }
    out += "};\n";
  };
  array("kProgramA", programA);
  array("kProgramB", programB);
  array("kDataFlash", dataFlash);
  out += "\n}  // namespace dravion::firmware_images\n";
  return out;
}

}  // namespace dravion::pack
