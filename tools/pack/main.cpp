// dravion-pack: builds the data-flash image from its parts, checks the carried release and writes
// it as C++ source for the manager's core.
//
//   dravion-pack release --program-a A.bin --program-b B.bin
//                        (--dataflash-layout layout.txt | --dataflash-image image.bin)
//                        [--image-out image.bin] [--cpp-out images.cpp]
//   dravion-pack check-texts texts.txt
//   dravion-pack placeholder-program A|B out.bin
#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include "pack.h"

using namespace dravion::pack;

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: dravion-pack release --program-a FILE --program-b FILE\n"
               "                    (--dataflash-layout FILE | --dataflash-image FILE)\n"
               "                    [--image-out FILE] [--cpp-out FILE]\n"
               "       dravion-pack check-texts FILE\n"
               "       dravion-pack placeholder-program A|B FILE\n");
  return 2;
}

bool Report(const std::string& what, const Problems& problems) {
  for (const auto& p : problems)
    std::fprintf(stderr, "dravion-pack: %s: %s\n", what.c_str(), p.c_str());
  return problems.empty();
}

bool Load(const std::string& path, Bytes& bytes) {
  if (ReadFile(path, bytes)) return true;
  std::fprintf(stderr, "dravion-pack: %s: cannot be read\n", path.c_str());
  return false;
}

int Release(const std::map<std::string, std::string>& options) {
  const auto option = [&](const char* name) {
    const auto found = options.find(name);
    return found == options.end() ? std::string() : found->second;
  };
  if (option("--program-a").empty() || option("--program-b").empty() ||
      option("--dataflash-layout").empty() == option("--dataflash-image").empty())
    return Usage();
  Bytes a, b, image;
  if (!Load(option("--program-a"), a) || !Load(option("--program-b"), b)) return 1;
  bool ok = Report(option("--program-a"), CheckProgramImage(a, 'A'));
  ok = Report(option("--program-b"), CheckProgramImage(b, 'B')) && ok;
  std::string imageName = option("--dataflash-image");
  if (imageName.empty()) {
    imageName = option("--dataflash-layout");
    Problems problems;
    const auto parts = ReadLayout(imageName, problems);
    if (problems.empty()) image = BuildDataFlashImage(parts, problems);
    if (!Report(imageName, problems)) return 1;
  } else if (!Load(imageName, image)) {
    return 1;
  }
  ok = Report(imageName, CheckDataFlashImage(image)) && ok;
  if (!ok) {
    std::fprintf(stderr, "dravion-pack: the firmware release breaks the rules above\n");
    return 1;
  }
  if (!option("--image-out").empty() && !WriteFile(option("--image-out"), image)) {
    std::fprintf(stderr, "dravion-pack: %s: cannot be written\n", option("--image-out").c_str());
    return 1;
  }
  if (!option("--cpp-out").empty()) {
    const std::string source = EmbedSource(a, b, image);
    if (!WriteFile(option("--cpp-out"), Bytes(source.begin(), source.end()))) {
      std::fprintf(stderr, "dravion-pack: %s: cannot be written\n", option("--cpp-out").c_str());
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "release") {
    std::map<std::string, std::string> options;
    for (int i = 2; i < argc; i += 2) {
      if (i + 1 >= argc) return Usage();
      options[argv[i]] = argv[i + 1];
    }
    return Release(options);
  }
  if (command == "check-texts" && argc == 3) {
    Bytes source;
    if (!Load(argv[2], source)) return 1;
    Problems problems;
    const auto texts = ReadTextSource(std::string(source.begin(), source.end()), problems);
    const Problems tableProblems = CheckTextTable(BuildTextTable(texts));
    problems.insert(problems.end(), tableProblems.begin(), tableProblems.end());
    if (!Report(argv[2], problems)) return 1;
    size_t bytes = 0;
    for (const auto& t : texts)
      bytes += t.size();
    std::printf("%zu texts, table of %zu bytes\n", texts.size(),
                kTextTableHeaderSize + 4 * texts.size() + bytes + texts.size());
    return 0;
  }
  if (command == "placeholder-program" && argc == 4 &&
      (std::string(argv[2]) == "A" || std::string(argv[2]) == "B")) {
    if (WriteFile(argv[3], PlaceholderProgramImage(argv[2][0]))) return 0;
    std::fprintf(stderr, "dravion-pack: %s: cannot be written\n", argv[3]);
    return 1;
  }
  return Usage();
}
